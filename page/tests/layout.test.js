// Layout at the sizes a host may give the editor, the screenshot artifact, the
// accessible names, and the page opened in a plain browser.
"use strict";

const { describe, it, before, after } = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const { PAGE_DIR, launchBrowser, withEditor, builtPageDir } = require("./harness");

const ARTIFACTS = path.join(PAGE_DIR, "test-results");

let browser;
before(async () => {
  browser = await launchBrowser();
  fs.mkdirSync(ARTIFACTS, { recursive: true });
});
after(async () => {
  await browser.close();
});

// Widest values and a long news line, so that nothing is measured at its easiest.
async function crowd(editor) {
  await editor.report(4, 200);
  await editor.report(0, 88.8);
  await editor.deliver(
    "m kestrelV1 initNews a1b2c3d4 " +
      JSON.stringify({ title: "Forty new tones", text: "A free preset pack for Emberpress is out now, with forty tones from classic crunch to molten lead." })
  );
  await editor.deliver("m kestrelV1 initDone ");
}

// Boxes of everything a user must see whole, and what overflows.
function measure() {
  const box = (el) => {
    const r = el.getBoundingClientRect();
    return { left: r.left, top: r.top, right: r.right, bottom: r.bottom };
  };
  const named = (selector) =>
    Array.from(document.querySelectorAll(selector), (el, i) => ({ name: `${selector}#${i}`, box: box(el), el }));
  const parts = [
    ...named(".label"), ...named(".knob"), ...named(".switch"), ...named(".readout"),
    ...named(".product"), ...named(".preset-menu"), ...named(".status"), ...named(".maker"), ...named(".news"),
    ...named(".news-badge"), ...named(".news-dismiss"),
  ];
  const scroller = document.scrollingElement;
  return {
    viewport: { width: innerWidth, height: innerHeight },
    scroll: { width: scroller.scrollWidth, height: scroller.scrollHeight },
    faceplate: box(document.getElementById("faceplate")),
    parts: parts.map(({ name, box }) => ({ name, box })),
    // Text wider than its box would be cut off (the news body ellipsizes on purpose).
    clippedText: parts.filter(({ el }) => el.scrollWidth > el.clientWidth + 1 || el.scrollHeight > el.clientHeight + 1).map((p) => p.name),
    // The controls of one column and the columns themselves must not overlap, nor the
    // parts of the header.
    controls: named(".knob, .switch, .readout, .label").map(({ name, box }) => ({ name, box })),
    header: named(".brand, .preset-menu, .status").map(({ name, box }) => ({ name, box })),
  };
}

function overlaps(a, b) {
  return a.left < b.right - 0.5 && b.left < a.right - 0.5 && a.top < b.bottom - 0.5 && b.top < a.bottom - 0.5;
}

describe("layout", () => {
  // The page as the bundles hold it, with the preset menu.
  for (const [width, height] of [[640, 320], [800, 400], [1200, 600], [1000, 360], [520, 480]]) {
    it(`${width} x ${height}: no scrollbars, nothing clipped, nothing overlapping`, async () => {
      await withEditor(browser, { width, height, pageDir: builtPageDir() }, async (editor) => {
        await crowd(editor);
        const m = await editor.page.evaluate(measure);
        assert.equal(m.header.length, 3, "brand, preset menu, status");
        assert.ok(m.scroll.width <= width && m.scroll.height <= height, `scrollable: ${JSON.stringify(m.scroll)}`);
        for (const { name, box } of m.parts) {
          assert.ok(box.left >= 0 && box.top >= 0 && box.right <= width + 0.5 && box.bottom <= height + 0.5, `${name} outside: ${JSON.stringify(box)}`);
          assert.ok(box.right - box.left > 0 && box.bottom - box.top > 0, `${name} has no size`);
        }
        assert.deepEqual(m.clippedText, []);
        for (const group of [m.controls, m.header]) {
          for (let i = 0; i < group.length; i++) {
            for (let j = i + 1; j < group.length; j++) {
              assert.ok(!overlaps(group[i].box, group[j].box), `${group[i].name} overlaps ${group[j].name}`);
            }
          }
        }
        if (width === 2 * height) {
          const f = m.faceplate;
          assert.deepEqual([f.left, f.top, f.right, f.bottom], [0, 0, width, height], "the design fills the window exactly");
        }
        await editor.page.screenshot({ path: path.join(ARTIFACTS, `editor-${width}x${height}-crowded.png`) });
      });
    });
  }

  it("saves the editor at 800 x 400 as a test artifact", async () => {
    await withEditor(browser, { pageDir: builtPageDir() }, async (editor) => {
      await editor.deliver("m kestrelV1 initDone ");
      const file = path.join(ARTIFACTS, "editor-800x400.png");
      await editor.page.screenshot({ path: file });
      const png = fs.readFileSync(file);
      assert.equal(png.readUInt32BE(16), 800);
      assert.equal(png.readUInt32BE(20), 400);
    });
  });
});

describe("accessibility", () => {
  it("exposes the knobs as named sliders and Bypass as a named switch", async () => {
    await withEditor(browser, {}, async (editor) => {
      const tree = await editor.page.locator("#controls").ariaSnapshot();
      for (const name of ["Drive", "Tone", "Heat", "Mix", "Volume"]) assert.match(tree, new RegExp(`slider "${name}"`));
      assert.match(tree, /switch "Bypass"/);
      await editor.report(5, 1);
      assert.match(await editor.page.locator("#controls").ariaSnapshot(), /switch "Bypass" \[checked\]/);
    });
  });

  it("shows every value as text, matching what the slider announces", async () => {
    await withEditor(browser, {}, async (editor) => {
      await editor.report(1, 12.5);
      await editor.report(4, 175);
      const shown = await editor.page.locator(".knob + .readout").allTextContents();
      const announced = [];
      for (let i = 0; i < 5; i++) announced.push(await editor.knob(i).getAttribute("aria-valuetext"));
      assert.deepEqual(shown, announced);
      assert.deepEqual(shown, ["50 %", "12.5 %", "50 %", "100 %", "175 %"]);
      assert.equal(await editor.page.locator(".bypass .readout").textContent(), "Off");
    });
  });
});

describe("plain browser", () => {
  it("renders and works without the embedded browser's channel", async () => {
    await withEditor(browser, { webview: false }, async (editor) => {
      assert.equal(await editor.page.evaluate(() => Boolean(window.chrome && window.chrome.webview)), false);
      await editor.knob(0).focus();
      await editor.page.keyboard.press("PageUp");
      assert.equal(await editor.knob(0).getAttribute("aria-valuetext"), "60 %");
      await editor.bypass().click();
      assert.equal(await editor.bypass().getAttribute("aria-checked"), "true");
      assert.equal(await editor.page.locator("#news").isVisible(), false);
    });
  });
});
