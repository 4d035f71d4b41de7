// Every message form of protocol-examples.json, through the real page.
"use strict";

const { describe, it, before, after } = require("node:test");
const assert = require("node:assert/strict");
const { EXAMPLES, PARAMS, launchBrowser, withEditor } = require("./harness");

let browser;
before(async () => {
  browser = await launchBrowser();
});
after(async () => {
  await browser.close();
});

const fromPage = EXAMPLES.examples.filter((e) => "page" in e);
const fromHost = EXAMPLES.examples.filter((e) => "host" in e);

describe("example file", () => {
  it("describes itself consistently", () => {
    assert.equal(EXAMPLES.parameterCount, PARAMS.length);
    for (const e of EXAMPLES.examples) {
      assert.ok(("page" in e) !== ("host" in e), JSON.stringify(e));
      assert.ok(typeof e.why === "string" && e.why.length > 0, JSON.stringify(e));
      if (e.ignored) continue;
      if ("bits" in e) {
        const view = new DataView(new ArrayBuffer(4));
        view.setUint32(0, parseInt(e.bits, 16));
        assert.match(e.bits, /^[0-9a-f]{8}$/);
        assert.ok(Math.abs(view.getFloat32(0) - e.value) < 1e-4, `${e.bits} is not ${e.value}`);
        assert.ok(e.index < EXAMPLES.parameterCount);
      }
      if (e.kind === "m") assert.equal(e.page ?? e.host, "m " + e.handlerText);
    }
  });
});

describe("page to host", () => {
  it('sends "g" exactly once, with its listener installed, then asks the news store', async () => {
    await withEditor(browser, {}, async (editor) => {
      await editor.page.waitForTimeout(200);  // nothing more may follow on its own
      const posted = await editor.postedWithListeners();
      assert.deepEqual(
        posted.map((p) => p.text),
        ["g", "m kestrelV1 init emberpress"]
      );
      for (const p of posted) assert.ok(p.listeners >= 1, `${p.text} posted before the page listened`);
    });
  });

  // The page writes each of these texts itself; drive a control so that it must.
  for (const example of fromPage.filter((e) => e.pageSends && "index" in e)) {
    it(`writes ${JSON.stringify(example.page)}: ${example.why}`, async () => {
      await withEditor(browser, {}, async (editor) => {
        const { index, value, kind } = example;
        const toggled = PARAMS[index].toggled;
        const { x, y } = await editor.center(index);
        // A starting point from which one gesture produces the example.
        if (kind === "b") await editor.report(index, value);
        else if (toggled) await editor.report(index, 1 - value);
        else if (kind === "e") await editor.report(index, value);
        else await editor.report(index, value - 1 >= PARAMS[index].min ? value - 1 : value + 1);
        await editor.clear();
        if (toggled) {
          await editor.bypass().click();
        } else if (kind === "s") {
          await editor.knob(index).focus();
          await editor.page.keyboard.press(value - 1 >= PARAMS[index].min ? "ArrowUp" : "ArrowDown");
        } else {
          await editor.page.mouse.move(x, y);
          await editor.page.mouse.down();
          await editor.page.mouse.up();
        }
        const posted = await editor.posted();
        assert.ok(posted.includes(example.page), `${JSON.stringify(posted)} lacks ${example.page}`);
        if (kind === "b") assert.equal(posted[0], example.page);
        if (kind === "e") assert.equal(posted[posted.length - 1], example.page);
      });
    });
  }
});

describe("host to page", () => {
  for (const example of fromHost.filter((e) => !e.ignored && e.kind === "s")) {
    it(`shows ${JSON.stringify(example.host)}: ${example.why}`, async () => {
      await withEditor(browser, {}, async (editor) => {
        await editor.clear();
        await editor.deliver(example.host);
        const shown = example.shows ?? example.value;
        if (PARAMS[example.index].toggled) {
          assert.equal(await editor.bypass().getAttribute("aria-checked"), String(shown === 1));
        } else {
          assert.ok(Math.abs((await editor.valueOf(example.index)) - shown) < 0.01);
          const text = await editor.knob(example.index).getAttribute("aria-valuetext");
          assert.equal(text, `${Number(shown.toFixed(1))} %`);
        }
        assert.deepEqual(await editor.posted(), [], "a host report is never echoed");
      });
    });
  }

  it("refuses every ignored form without changing or sending anything", async () => {
    await withEditor(browser, {}, async (editor) => {
      // Move every control off its default so a stray reset would show.
      for (const [index, value] of [[0, 11], [1, 22], [2, 33], [3, 44], [4, 155], [5, 1]]) {
        await editor.report(index, value);
      }
      const before = await editor.state();
      const newsBefore = await editor.page.locator("#news").isHidden();
      await editor.clear();
      for (const example of fromHost.filter((e) => e.ignored)) {
        await editor.deliver(example.host);
        assert.deepEqual(await editor.state(), before, `${JSON.stringify(example.host)} changed a control`);
      }
      // Non-text payloads (a JSON message) are not strings and are ignored too.
      await editor.page.evaluate(() => window.__host.deliver({ s: 1 }));
      assert.deepEqual(await editor.state(), before);
      assert.equal(await editor.page.locator("#news").isHidden(), newsBefore);
      assert.deepEqual(await editor.posted(), []);
    });
  });

  it("starts at the parameter table's defaults and ranges", async () => {
    await withEditor(browser, {}, async (editor) => {
      for (const p of PARAMS) {
        if (p.toggled) {
          assert.equal(await editor.bypass().getAttribute("aria-checked"), "false");
          continue;
        }
        const knob = editor.knob(p.index);
        assert.equal(await knob.getAttribute("aria-valuemin"), String(p.min));
        assert.equal(await knob.getAttribute("aria-valuemax"), String(p.max));
        assert.equal(await knob.getAttribute("aria-valuenow"), String(p.default));
        assert.equal(await knob.getAttribute("aria-valuetext"), `${p.default} ${p.unit}`);
      }
    });
  });
});
