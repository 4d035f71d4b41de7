// The factory preset menu, with the presets.js the build writes into each bundle:
// choosing a preset sends one complete gesture per changed parameter, the menu names
// the preset while the values match it, and the page does without a usable file.
"use strict";

const { describe, it, before, after } = require("node:test");
const assert = require("node:assert/strict");
const { PARAMS, launchBrowser, withEditor, builtPageDir, pageCopy, presetsOf } = require("./harness");

const DRIVE = 0, NEUTRAL = "\u2014";

let browser, pageDir, presets;
before(async () => {
  browser = await launchBrowser();
  pageDir = builtPageDir();
  presets = presetsOf(pageDir);
});
after(async () => {
  await browser.close();
});

const fround = Math.fround;

// [kind, index, value] of each gesture message posted.
async function gestures(editor) {
  return (await editor.edits()).map((e) => [e.kind, e.index, e.value]);
}

// The gestures a change from `values` to `preset` must send: b, s, e for each changed
// parameter in index order, nothing for the others.
function expectedGestures(values, preset) {
  const out = [];
  preset.values.forEach((v, i) => {
    if (fround(v) === values[i]) return;
    out.push(["b", i, values[i]], ["s", i, fround(v)], ["e", i, fround(v)]);
  });
  return out;
}

describe("preset menu", () => {
  it("lists the built presets and names the one the values match from the start", async () => {
    await withEditor(browser, { pageDir }, async (editor) => {
      const names = await editor.presetMenu().evaluate((menu) => Array.from(menu.options).filter((o) => !o.hidden).map((o) => o.text));
      assert.deepEqual(names, presets.map((p) => p.name));
      const defaults = presets.find((p) => p.values.every((v, i) => v === PARAMS[i].default));
      assert.ok(defaults, "a preset holds the defaults");
      assert.equal(await editor.presetLabel(), defaults.name);
    });
  });

  it("choosing a preset sends one complete gesture per changed parameter and none for the rest", async () => {
    await withEditor(browser, { pageDir }, async (editor) => {
      for (const preset of presets.slice(1).concat(presets[0])) {
        // The host leaves drive where this preset wants it: drive must send nothing.
        await editor.report(DRIVE, preset.values[DRIVE]);
        const before = [];
        for (let i = 0; i < PARAMS.length; i++) before.push(await editor.valueOf(i));
        await editor.clear();
        await editor.presetMenu().selectOption({ label: preset.name });
        assert.deepEqual(await gestures(editor), expectedGestures(before.map(fround), preset), preset.name);
        assert.equal(await editor.presetLabel(), preset.name);
      }
    });
  });

  it("shows a neutral label once a control moves, and the name again when the values match", async () => {
    await withEditor(browser, { pageDir }, async (editor) => {
      const preset = presets[presets.length - 1];
      await editor.presetMenu().selectOption({ label: preset.name });
      await editor.knob(DRIVE).press(preset.values[DRIVE] < 100 ? "ArrowUp" : "ArrowDown");
      assert.equal(await editor.presetLabel(), NEUTRAL);
      // The host puts drive back (an undo, say): the values match the preset again.
      await editor.report(DRIVE, preset.values[DRIVE]);
      assert.equal(await editor.presetLabel(), preset.name);
      await editor.report(DRIVE, 33.3);
      assert.equal(await editor.presetLabel(), NEUTRAL);
    });
  });

  it("works from the keyboard: Tab to the menu, arrow keys choose", async () => {
    await withEditor(browser, { pageDir }, async (editor) => {
      await editor.page.keyboard.press("Tab");
      assert.equal(await editor.page.evaluate(() => document.activeElement.getAttribute("aria-label")), "Preset");
      const first = await editor.presetLabel();
      const next = presets[presets.findIndex((p) => p.name === first) + 1];
      const before = [];
      for (let i = 0; i < PARAMS.length; i++) before.push(fround(await editor.valueOf(i)));
      await editor.clear();
      await editor.page.keyboard.press("ArrowDown");
      assert.equal(await editor.presetLabel(), next.name);
      assert.deepEqual(await gestures(editor), expectedGestures(before, next));
    });
  });
});

describe("without a usable presets.js", () => {
  it("has no menu and still sends gestures: the file missing, or a table that does not fit", async () => {
    const broken = [
      undefined, // the page's source folder has no presets.js
      'window.Emberpress = { presets: [{ name: "Short", values: [1, 2, 3] }] };',
      'window.Emberpress = { presets: [{ name: "Loud", values: [50, 50, 50, 100, 900, 0] }] };',
      "window.Emberpress = { presets: 'none' };",
    ];
    for (const text of broken) {
      const dir = text === undefined ? undefined : pageCopy(text);
      await withEditor(browser, dir ? { pageDir: dir } : {}, async (editor) => {
        assert.equal(await editor.page.locator("select").count(), 0, String(text));
        await editor.clear();
        await editor.knob(DRIVE).press("ArrowUp");
        assert.deepEqual(await gestures(editor), [["b", 0, 50], ["s", 0, 51], ["e", 0, 51]]);
      });
    }
  });
});
