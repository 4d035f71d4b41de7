// Gestures from mouse, wheel and keyboard become "b", "s", "e" messages.
"use strict";

const { describe, it, before, after } = require("node:test");
const assert = require("node:assert/strict");
const { launchBrowser, withEditor } = require("./harness");

const DRIVE = 0, TONE = 1, MIX = 3, VOLUME = 4, BYPASS = 5;

let browser;
before(async () => {
  browser = await launchBrowser();
});
after(async () => {
  await browser.close();
});

// [kind, value] pairs of the gesture messages posted for one parameter.
async function gestures(editor, index) {
  return (await editor.edits()).map((e) => {
    assert.equal(e.index, index, "a gesture names the control it came from");
    return [e.kind, Math.round(e.value * 1000) / 1000];
  });
}

// Turns the wheel over the mouse position and waits until the page has seen it
// (wheel events reach the page asynchronously).
async function wheel(editor, deltaY) {
  const seen = await editor.page.evaluate(() => {
    if (!window.__wheels) {
      window.__wheels = 0;
      document.addEventListener("wheel", () => window.__wheels++, { capture: true });
    }
    return window.__wheels;
  });
  await editor.page.mouse.wheel(0, deltaY);
  await editor.page.waitForFunction((n) => window.__wheels > n, seen);
}

async function startAt(editor, index, value) {
  await editor.report(index, value);
  await editor.clear();
}

describe("mouse", () => {
  it("drag: b at the press value, s while moving (up = more), e at release", async () => {
    await withEditor(browser, {}, async (editor) => {
      await editor.clear();
      const { x, y } = await editor.center(DRIVE);
      await editor.page.mouse.move(x, y);
      await editor.page.mouse.down();
      await editor.page.mouse.move(x, y - 40, { steps: 4 });  // 200 px sweep the range: 0.5 per px
      await editor.page.mouse.up();
      assert.deepEqual(await gestures(editor, DRIVE), [
        ["b", 50], ["s", 55], ["s", 60], ["s", 65], ["s", 70], ["e", 70],
      ]);
      assert.equal(await editor.knob(DRIVE).getAttribute("aria-valuetext"), "70 %");
      assert.equal(await editor.page.evaluate(() => document.activeElement.getAttribute("aria-labelledby")), "label-0");
    });
  });

  it("drag past either end stays clamped and sends no repeated value", async () => {
    await withEditor(browser, {}, async (editor) => {
      await startAt(editor, VOLUME, 100);
      const { x, y } = await editor.center(VOLUME);
      await editor.page.mouse.move(x, y);
      await editor.page.mouse.down();
      await editor.page.mouse.move(x, y + 150, { steps: 3 });  // 1 per px on a 0..200 range
      await editor.page.mouse.up();
      assert.deepEqual(await gestures(editor, VOLUME), [["b", 100], ["s", 50], ["s", 0], ["e", 0]]);

      await editor.clear();
      await editor.page.mouse.move(x, y);
      await editor.page.mouse.down();
      await editor.page.mouse.move(x, y - 300, { steps: 2 });
      await editor.page.mouse.up();
      assert.deepEqual(await gestures(editor, VOLUME), [["b", 0], ["s", 150], ["s", 200], ["e", 200]]);
    });
  });

  it("Shift drags ten times finer; other buttons do nothing", async () => {
    await withEditor(browser, {}, async (editor) => {
      await editor.clear();
      const { x, y } = await editor.center(TONE);
      await editor.page.mouse.move(x, y);
      await editor.page.mouse.down({ button: "right" });
      await editor.page.mouse.move(x, y - 50);
      await editor.page.mouse.up({ button: "right" });
      assert.deepEqual(await gestures(editor, TONE), []);

      await editor.page.mouse.move(x, y);
      await editor.page.keyboard.down("Shift");
      await editor.page.mouse.down();
      await editor.page.mouse.move(x, y - 20);
      await editor.page.mouse.up();
      await editor.page.keyboard.up("Shift");
      assert.deepEqual(await gestures(editor, TONE), [["b", 50], ["s", 51], ["e", 51]]);
    });
  });

  it("double-click returns to the default in one complete gesture", async () => {
    await withEditor(browser, {}, async (editor) => {
      await startAt(editor, MIX, 20);
      await editor.knob(MIX).dblclick();
      // Each press is a gesture of its own (without change); then the reset.
      assert.deepEqual(await gestures(editor, MIX), [
        ["b", 20], ["e", 20], ["b", 20], ["e", 20], ["b", 20], ["s", 100], ["e", 100],
      ]);
      await editor.clear();
      await editor.knob(MIX).dblclick();
      assert.deepEqual((await gestures(editor, MIX)).filter(([kind]) => kind === "s"), [], "already at the default");
    });
  });

  it("a host report during a drag is shown, not echoed, and the drag goes on from it", async () => {
    await withEditor(browser, {}, async (editor) => {
      await editor.clear();
      const { x, y } = await editor.center(DRIVE);
      await editor.page.mouse.move(x, y);
      await editor.page.mouse.down();
      await editor.page.mouse.move(x, y - 10);
      await editor.report(DRIVE, 20);
      assert.equal(await editor.knob(DRIVE).getAttribute("aria-valuenow"), "20");
      await editor.page.mouse.move(x, y - 20);
      await editor.page.mouse.up();
      assert.deepEqual(await gestures(editor, DRIVE), [["b", 50], ["s", 55], ["s", 25], ["e", 25]]);
    });
  });
});

describe("wheel", () => {
  it("turned away from the user increases; each notch is one complete gesture", async () => {
    await withEditor(browser, {}, async (editor) => {
      await editor.clear();
      const { x, y } = await editor.center(TONE);
      await editor.page.mouse.move(x, y);
      await wheel(editor, -100);
      await wheel(editor, -100);
      await wheel(editor, 100);
      assert.deepEqual(await gestures(editor, TONE), [
        ["b", 50], ["s", 51], ["e", 51],
        ["b", 51], ["s", 52], ["e", 52],
        ["b", 52], ["s", 51], ["e", 51],
      ]);
    });
  });

  it("small trackpad steps add up; at the end of the range nothing is sent", async () => {
    await withEditor(browser, {}, async (editor) => {
      await startAt(editor, VOLUME, 199.5);
      const { x, y } = await editor.center(VOLUME);
      await editor.page.mouse.move(x, y);
      for (let i = 0; i < 4; i++) await wheel(editor, -25);
      // Quarter notches: 0.25 moves 0.2 and keeps 0.05, the next 0.3 reaches the top.
      assert.deepEqual(await gestures(editor, VOLUME), [
        ["b", 199.5], ["s", 199.7], ["e", 199.7],
        ["b", 199.7], ["s", 200], ["e", 200],
      ]);

      await editor.clear();
      await wheel(editor, -100);
      assert.deepEqual(await gestures(editor, VOLUME), []);
      assert.equal(await editor.knob(VOLUME).getAttribute("aria-valuenow"), "200");
    });
  });
});

describe("keyboard", () => {
  it("arrows step 1, Page Up/Down 10, Home/End jump; each press one gesture", async () => {
    await withEditor(browser, {}, async (editor) => {
      await editor.clear();
      await editor.knob(TONE).focus();
      const steps = [
        ["ArrowUp", 50, 51], ["ArrowRight", 51, 52], ["ArrowDown", 52, 51], ["ArrowLeft", 51, 50],
        ["PageUp", 50, 60], ["PageDown", 60, 50], ["End", 50, 100], ["Home", 100, 0],
      ];
      for (const [key, from, to] of steps) {
        await editor.clear();
        await editor.page.keyboard.press(key);
        assert.deepEqual(await gestures(editor, TONE), [["b", from], ["s", to], ["e", to]], key);
        assert.equal(await editor.knob(TONE).getAttribute("aria-valuenow"), String(to));
      }
    });
  });

  it("clamps to the range and sends nothing when a key cannot move the value", async () => {
    await withEditor(browser, {}, async (editor) => {
      await startAt(editor, VOLUME, 195);
      await editor.knob(VOLUME).focus();
      await editor.page.keyboard.press("PageUp");
      assert.deepEqual(await gestures(editor, VOLUME), [["b", 195], ["s", 200], ["e", 200]]);
      await editor.clear();
      for (const key of ["ArrowUp", "PageUp", "End", "ArrowRight"]) await editor.page.keyboard.press(key);
      await startAt(editor, VOLUME, 0);
      for (const key of ["ArrowDown", "PageDown", "Home", "ArrowLeft"]) await editor.page.keyboard.press(key);
      assert.deepEqual(await gestures(editor, VOLUME), []);
      assert.equal(await editor.knob(VOLUME).getAttribute("aria-valuetext"), "0 %");
    });
  });

  it("Tab visits the five knobs and the switch in order", async () => {
    await withEditor(browser, {}, async (editor) => {
      const names = [];
      for (let i = 0; i < 6; i++) {
        await editor.page.keyboard.press("Tab");
        names.push(
          await editor.page.evaluate(() => {
            const el = document.activeElement;
            return el.getAttribute("role") + ":" + document.getElementById(el.getAttribute("aria-labelledby")).textContent;
          })
        );
      }
      assert.deepEqual(names, ["slider:Drive", "slider:Tone", "slider:Heat", "slider:Mix", "slider:Volume", "switch:Bypass"]);
    });
  });
});

describe("bypass switch", () => {
  it("click, Space and Enter each toggle it with one complete gesture", async () => {
    await withEditor(browser, {}, async (editor) => {
      await editor.clear();
      const bypass = editor.bypass();
      const cell = editor.page.locator(".bypass .readout");
      await bypass.click();
      assert.equal(await bypass.getAttribute("aria-checked"), "true");
      assert.equal(await cell.textContent(), "On");
      assert.equal(await editor.page.locator("#status-text").textContent(), "Bypassed");
      await bypass.focus();
      await editor.page.keyboard.press("Space");
      assert.equal(await bypass.getAttribute("aria-checked"), "false");
      assert.equal(await cell.textContent(), "Off");
      await editor.page.keyboard.press("Enter");
      assert.equal(await bypass.getAttribute("aria-checked"), "true");
      assert.deepEqual(await gestures(editor, BYPASS), [
        ["b", 0], ["s", 1], ["e", 1],
        ["b", 1], ["s", 0], ["e", 0],
        ["b", 0], ["s", 1], ["e", 1],
      ]);
    });
  });

  it("follows host reports without sending", async () => {
    await withEditor(browser, {}, async (editor) => {
      await editor.clear();
      await editor.report(BYPASS, 1);
      assert.equal(await editor.bypass().getAttribute("aria-checked"), "true");
      assert.ok(await editor.page.locator("#faceplate.bypassed").isVisible());
      await editor.report(BYPASS, 0.25);
      assert.equal(await editor.bypass().getAttribute("aria-checked"), "false");
      assert.deepEqual(await editor.posted(), []);
    });
  });
});
