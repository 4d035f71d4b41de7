// The Emberpress editor: five knobs and the bypass switch, their gestures, the
// factory preset menu, and the link to the native editor. Values are plain units
// (percent; bypass 0/1).
//
// Gestures reach the host as "b" (begin, with the value before the change),
// "s" (each change) and "e" (end, with the final value). A drag spans one
// gesture from press to release; the wheel, a double-click and each key press
// are complete gestures of their own. Value reports from the host only move
// the controls: they are never sent back.
(function () {
  "use strict";

  const { formatEdit, parseReport, connect } = window.Emberpress.protocol;

  const PARAMS = [
    { name: "Drive", unit: "%", min: 0, max: 100, def: 50 },
    { name: "Tone", unit: "%", min: 0, max: 100, def: 50 },
    { name: "Heat", unit: "%", min: 0, max: 100, def: 50 },
    { name: "Mix", unit: "%", min: 0, max: 100, def: 100 },
    { name: "Volume", unit: "%", min: 0, max: 200, def: 100 },
    { name: "Bypass", unit: "", min: 0, max: 1, def: 0, toggled: true },
  ];
  const BYPASS = 5;

  const DRAG_PIXELS = 200;  // a drag of this many pixels sweeps the whole range
  const FINE = 0.1;  // drag speed with Shift held
  const RESOLUTION = 10;  // page-made values sit on a 0.1 grid
  const KEY_STEPS = { ArrowUp: 1, ArrowRight: 1, ArrowDown: -1, ArrowLeft: -1, PageUp: 10, PageDown: -10 };
  const WHEEL_STEP = 1;  // per wheel notch

  const values = PARAMS.map((p) => Math.fround(p.def));
  const views = [];  // per parameter: show(value)
  let send = function () {};
  let drag = null;  // { index, pointerId, anchorY, anchorValue, lastY }

  // Clamped to the range (a toggle snaps to 0 or 1), as the float the host gets.
  function limit(index, value) {
    const p = PARAMS[index];
    if (p.toggled) value = value >= 0.5 ? 1 : 0;
    return Math.fround(Math.min(p.max, Math.max(p.min, value)));
  }

  function onGrid(value) {
    return Math.round(value * RESOLUTION) / RESOLUTION;
  }

  function setValue(index, value) {
    values[index] = value;
    views[index](value);
    showPreset();
  }

  function sendEdit(kind, index) {
    send(formatEdit(kind, index, values[index]));
  }

  // One complete gesture for a single change; nothing when the value stays.
  function changeOnce(index, target) {
    const next = limit(index, target);
    if (next === values[index]) return;
    sendEdit("b", index);
    setValue(index, next);
    sendEdit("s", index);
    sendEdit("e", index);
  }

  function formatValue(index, value) {
    const p = PARAMS[index];
    if (p.toggled) return value >= 0.5 ? "On" : "Off";
    return (Math.round(value * 10) / 10).toFixed(1).replace(/\.0$/, "") + (p.unit ? " " + p.unit : "");
  }

  // ---- knobs -------------------------------------------------------------

  const SVG = "http://www.w3.org/2000/svg";
  const ARC = "M 26.06 93.94 A 48 48 0 1 1 93.94 93.94";  // 270 degrees around (60, 60)

  function svg(name, attributes, parent) {
    const el = document.createElementNS(SVG, name);
    for (const key in attributes) el.setAttribute(key, attributes[key]);
    if (parent) parent.appendChild(el);
    return el;
  }

  function dial() {
    const root = svg("svg", { viewBox: "0 0 120 120", "aria-hidden": "true", focusable: "false" });
    const ticks = svg("g", { class: "ticks" }, root);
    for (let i = 0; i <= 10; i++) {
      svg("line", { x1: 60, y1: 3, x2: 60, y2: 7, transform: "rotate(" + (-135 + 27 * i) + " 60 60)" }, ticks);
    }
    svg("path", { class: "track", d: ARC, pathLength: 100 }, root);
    const level = svg("path", { class: "level", d: ARC, pathLength: 100 }, root);
    svg("circle", { class: "skirt", cx: 60, cy: 60, r: 40 }, root);
    svg("circle", { class: "cap", cx: 60, cy: 60, r: 31 }, root);
    const pointer = svg("line", { class: "pointer", x1: 60, y1: 26, x2: 60, y2: 42 }, root);
    return { root, level, pointer };
  }

  function buildKnob(index, parent) {
    const p = PARAMS[index];
    const cell = document.createElement("div");
    cell.className = "cell";
    const label = document.createElement("div");
    label.className = "label";
    label.id = "label-" + index;
    label.textContent = p.name;
    const knob = document.createElement("div");
    knob.className = "knob";
    knob.tabIndex = 0;
    knob.setAttribute("role", "slider");
    knob.setAttribute("aria-labelledby", label.id);
    knob.setAttribute("aria-valuemin", String(p.min));
    knob.setAttribute("aria-valuemax", String(p.max));
    knob.setAttribute("aria-orientation", "vertical");
    const parts = dial();
    knob.appendChild(parts.root);
    const readout = document.createElement("div");
    readout.className = "readout";
    readout.setAttribute("aria-hidden", "true");  // the slider announces its own value text
    cell.append(label, knob, readout);
    parent.appendChild(cell);

    views[index] = function (value) {
      const fraction = (value - p.min) / (p.max - p.min);
      parts.level.setAttribute("stroke-dasharray", (fraction * 100).toFixed(2) + " 100");
      parts.pointer.setAttribute("transform", "rotate(" + (-135 + 270 * fraction).toFixed(2) + " 60 60)");
      knob.style.setProperty("--glow", fraction.toFixed(3));
      knob.setAttribute("aria-valuenow", String(Math.round(value * 100) / 100));
      knob.setAttribute("aria-valuetext", formatValue(index, value));
      readout.textContent = formatValue(index, value);
    };

    // Press, drag vertically (up = more), release.
    knob.addEventListener("pointerdown", function (event) {
      if (event.button !== 0 || drag) return;
      event.preventDefault();
      knob.focus();
      knob.setPointerCapture(event.pointerId);
      drag = { index, pointerId: event.pointerId, anchorY: event.clientY, anchorValue: values[index], lastY: event.clientY };
      knob.classList.add("dragging");
      sendEdit("b", index);
    });
    knob.addEventListener("pointermove", function (event) {
      if (!drag || drag.pointerId !== event.pointerId || drag.index !== index) return;
      drag.lastY = event.clientY;
      const perPixel = ((p.max - p.min) / DRAG_PIXELS) * (event.shiftKey ? FINE : 1);
      const next = limit(index, onGrid(drag.anchorValue + (drag.anchorY - event.clientY) * perPixel));
      if (next === values[index]) return;
      setValue(index, next);
      sendEdit("s", index);
    });
    function release(event) {
      if (!drag || drag.pointerId !== event.pointerId || drag.index !== index) return;
      drag = null;
      knob.classList.remove("dragging");
      sendEdit("e", index);
    }
    knob.addEventListener("pointerup", release);
    knob.addEventListener("pointercancel", release);
    knob.addEventListener("lostpointercapture", release);

    knob.addEventListener("dblclick", function () {
      changeOnce(index, p.def);
    });

    // Wheel turned away from the user increases; small trackpad deltas add up.
    let wheelRest = 0;
    knob.addEventListener(
      "wheel",
      function (event) {
        event.preventDefault();
        if (drag) return;
        const notches = event.deltaMode === 1 ? event.deltaY / 3 : event.deltaMode === 2 ? event.deltaY * 10 : event.deltaY / 100;
        wheelRest -= notches * WHEEL_STEP;
        // Whole tenths only; toFixed drops binary noise such as 2.9999999999999996.
        const step = Math.trunc(Number((wheelRest * RESOLUTION).toFixed(6))) / RESOLUTION;
        if (step === 0) return;
        wheelRest -= step;
        changeOnce(index, onGrid(values[index] + step));
      },
      { passive: false }
    );

    knob.addEventListener("keydown", function (event) {
      let target;
      if (event.key in KEY_STEPS) target = onGrid(values[index] + KEY_STEPS[event.key]);
      else if (event.key === "Home") target = p.min;
      else if (event.key === "End") target = p.max;
      else return;
      event.preventDefault();
      if (!drag) changeOnce(index, target);
    });
  }

  // ---- bypass ------------------------------------------------------------

  function buildBypass(parent) {
    const cell = document.createElement("div");
    cell.className = "cell bypass";
    const label = document.createElement("div");
    label.className = "label";
    label.id = "label-" + BYPASS;
    label.textContent = PARAMS[BYPASS].name;
    const button = document.createElement("button");
    button.type = "button";
    button.className = "switch";
    button.setAttribute("role", "switch");
    button.setAttribute("aria-labelledby", label.id);
    const cap = svg("svg", { viewBox: "0 0 120 120", "aria-hidden": "true", focusable: "false" });
    svg("circle", { class: "switch-ring", cx: 60, cy: 60, r: 46 }, cap);
    svg("circle", { class: "switch-cap", cx: 60, cy: 60, r: 34 }, cap);
    svg("circle", { class: "switch-dimple", cx: 60, cy: 60, r: 20 }, cap);
    button.appendChild(cap);
    const readout = document.createElement("div");
    readout.className = "readout";
    readout.setAttribute("aria-hidden", "true");
    cell.append(label, button, readout);
    parent.appendChild(cell);

    const faceplate = document.getElementById("faceplate");
    const statusText = document.getElementById("status-text");
    views[BYPASS] = function (value) {
      const bypassed = value >= 0.5;
      button.setAttribute("aria-checked", String(bypassed));
      readout.textContent = formatValue(BYPASS, value);
      faceplate.classList.toggle("bypassed", bypassed);
      statusText.textContent = bypassed ? "Bypassed" : "Engaged";
    };

    // A button's click also comes from Space and Enter.
    button.addEventListener("click", function () {
      changeOnce(BYPASS, values[BYPASS] >= 0.5 ? 0 : 1);
    });
  }

  // ---- presets --------------------------------------------------------------

  // The factory presets come from presets.js, which the build writes beside this page
  // from the plug-in's preset table. Without it, or with a table that does not fit the
  // parameters, the page has no menu.
  const NEUTRAL = "\u2014";  // shown once the values match no preset
  let presets = [];
  let presetMenu = null;

  function readPresets(table) {
    const fits = (p) =>
      p && typeof p.name === "string" && p.name !== "" && Array.isArray(p.values) && p.values.length === PARAMS.length &&
      p.values.every((v, i) => typeof v === "number" && v >= PARAMS[i].min && v <= PARAMS[i].max);
    if (!Array.isArray(table) || table.length === 0 || !table.every(fits)) return [];
    return table.map((p) => ({ name: p.name, values: p.values.map((v, i) => limit(i, v)) }));
  }

  // The menu names the first preset whose values all equal the controls', else "—".
  function showPreset() {
    if (!presetMenu) return;
    const at = presets.findIndex((p) => p.values.every((v, i) => v === values[i]));
    presetMenu.value = at >= 0 ? String(at) : "";
  }

  // Choosing a preset is one complete gesture per parameter it changes, so the host
  // records ordinary edits; parameters already at the preset's value send nothing.
  function buildPresetMenu(parent) {
    presets = readPresets(window.Emberpress.presets);
    if (presets.length === 0) return;
    const select = document.createElement("select");
    select.className = "preset-menu";
    select.setAttribute("aria-label", "Preset");
    const neutral = new Option(NEUTRAL, "");
    neutral.disabled = true;
    neutral.hidden = true;
    select.add(neutral);
    presets.forEach((p, i) => select.add(new Option(p.name, String(i))));
    select.addEventListener("change", function () {
      const preset = presets[Number(select.value)];
      if (!preset || drag) {
        showPreset();
        return;
      }
      preset.values.forEach((value, index) => changeOnce(index, value));
      showPreset();
    });
    parent.appendChild(select);
    presetMenu = select;
  }

  // ---- messages from the native side ---------------------------------------

  let news = null;

  function receive(text) {
    if (text.startsWith("m ")) {
      news.handle(text.slice(2));
      return;
    }
    const report = parseReport(text, PARAMS.length);
    if (!report) return;
    setValue(report.index, limit(report.index, report.value));
    // A drag in progress continues from the host's value.
    if (drag && drag.index === report.index) {
      drag.anchorValue = values[report.index];
      drag.anchorY = drag.lastY;
    }
  }

  function boot() {
    const controls = document.getElementById("controls");
    for (let i = 0; i < BYPASS; i++) buildKnob(i, controls);
    buildBypass(controls);
    buildPresetMenu(document.getElementById("presets"));
    values.forEach((value, index) => views[index](value));
    showPreset();
    send = connect(receive);
    news = window.Emberpress.news.attach(document.getElementById("news"), (text) => send(text));
    send("g");
    news.start();
  }

  boot();
})();
