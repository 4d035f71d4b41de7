// The news strip, driven by news-store replies the way the native store sends them.
"use strict";

const { describe, it, before, after } = require("node:test");
const assert = require("node:assert/strict");
const { launchBrowser, withEditor } = require("./harness");

let browser;
before(async () => {
  browser = await launchBrowser();
});
after(async () => {
  await browser.close();
});

const NEWS = 'a1b2c3d4 {"title":"Forty new tones","text":"A free preset pack is out."}';

async function reply(editor, ...texts) {
  for (const text of texts) await editor.deliver("m kestrelV1 " + text);
}

async function strip(editor) {
  const news = editor.page.locator("#news");
  return {
    visible: await news.isVisible(),
    title: await news.locator(".news-title").textContent(),
    text: await news.locator(".news-text").textContent(),
  };
}

// The syncLatest commands the page posted, split into their parts.
async function syncs(editor) {
  const prefix = "m kestrelV1 syncLatest emberpress ";
  return (await editor.posted())
    .filter((t) => t.startsWith(prefix))
    .map((t) => {
      const [, expected, tag, json] = /^(\S+) (\S{8}) (.*)$/.exec(t.slice(prefix.length));
      return { expected, tag, fields: JSON.parse(json) };
    });
}

describe("news strip", () => {
  it("stays hidden and quiet with an empty store", async () => {
    await withEditor(browser, {}, async (editor) => {
      await reply(editor, "initDone ");
      assert.equal((await strip(editor)).visible, false);
      assert.deepEqual(await editor.posted(), ["g", "m kestrelV1 init emberpress"]);
    });
  });

  it("stays hidden when no store answers at all", async () => {
    await withEditor(browser, {}, async (editor) => {
      assert.equal((await strip(editor)).visible, false);
    });
  });

  it("shows the news record once init is done", async () => {
    await withEditor(browser, {}, async (editor) => {
      await reply(editor, "initSid 5f3e9a1c-user", "initNews " + NEWS);
      assert.equal((await strip(editor)).visible, false, "not before initDone");
      await reply(editor, "initDone ");
      assert.deepEqual(await strip(editor), { visible: true, title: "Forty new tones", text: "A free preset pack is out." });
    });
  });

  it("shows a plain-text record, and follows getNews and news conflicts", async () => {
    await withEditor(browser, {}, async (editor) => {
      await reply(editor, "initNews 0000000a Version 1.1 is here.\nSmoother drive.", "initDone ");
      assert.deepEqual(await strip(editor), { visible: true, title: "", text: "Version 1.1 is here. Smoother drive." });
      await reply(editor, "syncNewsConflict " + NEWS);
      assert.equal((await strip(editor)).title, "Forty new tones");
      await reply(editor, "getNews ");
      assert.equal((await strip(editor)).visible, false, "an empty record removes the news");
    });
  });

  it("refuses malformed records: nothing shown, nothing sent, nothing fetched", async () => {
    await withEditor(browser, {}, async (editor) => {
      await reply(editor, "initDone ");
      const bad = [
        "short",  // no 8-character tag and space
        "abc {\"text\":\"tag too short\"}",
        "a1b2c3d4 {\"text\": unquoted}",  // broken JSON
        "a1b2c3d4 [\"an\", \"array\"]",
        "a1b2c3d4 {\"text\": 42, \"title\": {}}",  // fields of the wrong type
        "a1b2c3d4 ",
      ];
      for (const record of bad) {
        await reply(editor, "getNews " + record);
        assert.equal((await strip(editor)).visible, false, record);
      }
      assert.deepEqual(await editor.posted(), ["g", "m kestrelV1 init emberpress"]);
    });
  });

  it("shows markup in a record as text and loads nothing from it", async () => {
    await withEditor(browser, {}, async (editor) => {
      const evil = '<img src="https://example.invalid/x.png" onerror="window.__owned=1"><script>window.__owned=2</script>';
      await reply(editor, "initNews a1b2c3d4 " + JSON.stringify({ title: "<b>Hi</b>", text: evil }), "initDone ");
      const shown = await strip(editor);
      assert.equal(shown.title, "<b>Hi</b>");
      assert.equal(shown.text, evil);
      assert.equal(await editor.page.locator("#news img, #news b, #news script").count(), 0);
      assert.equal(await editor.page.evaluate(() => window.__owned), undefined);
    });
  });

  it("stays hidden when this product's latest record says it was dismissed", async () => {
    await withEditor(browser, {}, async (editor) => {
      await reply(editor, "initNews " + NEWS, 'initLatest 77777777 {"dismissed":"a1b2c3d4"}', "initDone ");
      assert.equal((await strip(editor)).visible, false);
      // A newer record (another tag) shows again.
      await reply(editor, 'getNews b2c3d4e5 {"text":"Another"}');
      assert.equal((await strip(editor)).text, "Another");
    });
  });
});

describe("dismissing news", () => {
  it("hides the strip and records it with a compare-and-swap on the latest record", async () => {
    await withEditor(browser, {}, async (editor) => {
      await reply(editor, "initNews " + NEWS, "initDone ");
      await editor.clear();
      await editor.page.getByRole("button", { name: "Dismiss news" }).click();
      assert.equal((await strip(editor)).visible, false);
      const [sync, ...more] = await syncs(editor);
      assert.deepEqual(more, []);
      assert.equal(sync.expected, "-", "no latest record yet");
      assert.match(sync.tag, /^[0-9a-f]{8}$/);
      assert.deepEqual(sync.fields, { dismissed: "a1b2c3d4" });
      assert.deepEqual(await editor.edits(), [], "no parameter gesture");
    });
  });

  it("expects the tag it last saw and keeps the other fields of the record", async () => {
    await withEditor(browser, {}, async (editor) => {
      await reply(editor, "initNews " + NEWS, 'initLatest 12345678 {"dismissed":"old00000","seenVersion":"1.0"}', "initDone ");
      await editor.clear();
      await editor.page.getByRole("button", { name: "Dismiss news" }).click();
      const [sync] = await syncs(editor);
      assert.equal(sync.expected, "12345678");
      assert.deepEqual(sync.fields, { dismissed: "a1b2c3d4", seenVersion: "1.0" });
    });
  });

  it("retries on top of a conflicting record, a bounded number of times", async () => {
    await withEditor(browser, {}, async (editor) => {
      await reply(editor, "initNews " + NEWS, "initDone ");
      await editor.clear();
      await editor.page.getByRole("button", { name: "Dismiss news" }).click();
      // Another editor keeps writing first.
      for (let i = 0; i < 5; i++) await reply(editor, `syncLatestConflict 9999999${i} {"other":${i}}`);
      const all = await syncs(editor);
      assert.equal(all.length, 3);
      assert.deepEqual(all.map((s) => s.expected), ["-", "99999990", "99999991"]);
      assert.deepEqual(all[2].fields, { other: 1, dismissed: "a1b2c3d4" });
      assert.equal((await strip(editor)).visible, false, "hidden here whatever the store says");
    });
  });

  it("stops when the conflicting record already holds the dismissal", async () => {
    await withEditor(browser, {}, async (editor) => {
      await reply(editor, "initNews " + NEWS, "initDone ");
      await editor.page.getByRole("button", { name: "Dismiss news" }).click();
      await reply(editor, 'syncLatestConflict 88888888 {"dismissed":"a1b2c3d4"}');
      assert.equal((await syncs(editor)).length, 1);
    });
  });
});
