// Writes a screenshot of the editor page at its design size, 800 x 400, with the
// preset menu when the native build has written its presets.js:
//   node tests/screenshot.js OUT.png
"use strict";

const path = require("node:path");
const { pathToFileURL } = require("node:url");
const { PAGE_URL, launchBrowser, standInWebview, builtPageDir } = require("./harness");

function pageUrl() {
  try {
    return pathToFileURL(path.join(builtPageDir(), "index.html")).href;
  } catch {
    return PAGE_URL;
  }
}

async function main() {
  const out = process.argv[2];
  if (!out) {
    console.error("usage: node tests/screenshot.js OUT.png");
    process.exit(2);
  }
  const browser = await launchBrowser();
  try {
    const page = await browser.context.newPage();
    await page.setViewportSize({ width: 800, height: 400 });
    await page.addInitScript(standInWebview);
    await page.goto(pageUrl());
    await page.evaluate(() => window.__host.deliver("m kestrelV1 initDone "));
    await page.screenshot({ path: path.resolve(out) });
  } finally {
    await browser.close();
  }
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
