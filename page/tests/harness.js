// Opens the editor page in Debian's headless Chromium with a stand-in for the
// embedded browser's message channel, and checks after every test that the page
// logged no error, asked for nothing outside its own folder and posted only
// well-formed messages.
//
// The page is opened from its source folder, which lacks presets.js (the build writes
// it into each bundle), or from a folder that also holds the build's presets.js
// (builtPageDir).
"use strict";

const assert = require("node:assert/strict");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const { pathToFileURL } = require("node:url");
const { chromium } = require("playwright-core");

const PAGE_DIR = path.resolve(__dirname, "..");
const PAGE_URL = pathToFileURL(path.join(PAGE_DIR, "index.html")).href;
// Where the native build writes the presets for the page (EMBER_PRESETS_JS overrides).
const BUILT_PRESETS =
  process.env.EMBER_PRESETS_JS || path.resolve(PAGE_DIR, "../build/linux/lv2/Release/fernwood-emberpress.lv2/presets.js");
const MISSING_FILE = "Failed to load resource: net::ERR_FILE_NOT_FOUND";
const EXAMPLES = JSON.parse(fs.readFileSync(path.join(__dirname, "protocol-examples.json"), "utf8"));
const PARAMS = EXAMPLES.parameters;
const NAMES = PARAMS.map((p) => p.name);

const CHROMIUM_ARGS = [
  "--headless",
  "--no-sandbox",
  "--disable-gpu",
  "--disable-quic",
  "--no-first-run",
  "--disable-background-networking",
  "--disable-component-update",
  "--disable-sync",
];

// Runs in the page before its scripts: records what the page posts (and how many
// listeners it had installed at that moment) and lets the test deliver host text.
function standInWebview() {
  const listeners = [];
  const host = { posted: [] };
  host.deliver = function (text) {
    for (const listener of listeners.slice()) listener({ data: text });
  };
  window.__host = host;
  window.chrome = window.chrome || {};
  window.chrome.webview = {
    postMessage(message) {
      host.posted.push({ text: message, listeners: listeners.length });
    },
    addEventListener(type, listener) {
      if (type === "message") listeners.push(listener);
    },
    removeEventListener(type, listener) {
      const at = listeners.indexOf(listener);
      if (at >= 0) listeners.splice(at, 1);
    },
  };
}

async function launchBrowser() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "emberpress-page-"));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: "/usr/bin/chromium",
    headless: true,
    args: CHROMIUM_ARGS,
  });
  const external = [];
  // Anything that would leave the machine is refused and remembered.
  await context.route(/^(https?|wss?|ftp):/i, (route) => {
    external.push(route.request().url());
    return route.abort();
  });
  return {
    context,
    external,
    async close() {
      await context.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

function bitsOf(value) {
  const view = new DataView(new ArrayBuffer(4));
  view.setFloat32(0, value);
  return view.getUint32(0);
}

function floatOf(bits) {
  const view = new DataView(new ArrayBuffer(4));
  view.setUint32(0, bits);
  return view.getFloat32(0);
}

// What a posted gesture message says, or null when it is not one.
function decodeEdit(text) {
  const match = /^([bse]) ([0-9a-f]+) ([0-9a-f]{8})$/.exec(text);
  if (!match) return null;
  return { kind: match[1], index: parseInt(match[2], 16), value: floatOf(parseInt(match[3], 16)) };
}

function assertWellFormed(text) {
  if (text === "g" || text.startsWith("m kestrelV1 ")) return;
  const edit = decodeEdit(text);
  assert.ok(edit, `malformed message from the page: ${JSON.stringify(text)}`);
  const p = PARAMS[edit.index];
  assert.ok(p, `index out of range in ${text}`);
  assert.ok(edit.value >= p.min && edit.value <= p.max, `value out of range in ${text}`);
  if (p.toggled) assert.ok(edit.value === 0 || edit.value === 1, `toggle not 0/1 in ${text}`);
}

class Editor {
  constructor(page, problems) {
    this.page = page;
    this.problems = problems;
  }

  async posted() {
    return this.page.evaluate(() => (window.__host ? window.__host.posted.map((p) => p.text) : []));
  }

  async postedWithListeners() {
    return this.page.evaluate(() => window.__host.posted.slice());
  }

  async clear() {
    await this.page.evaluate(() => {
      window.__host.posted.length = 0;
    });
  }

  // Posted gesture messages, decoded.
  async edits() {
    return (await this.posted()).map(decodeEdit).filter(Boolean);
  }

  async deliver(text) {
    await this.page.evaluate((t) => window.__host.deliver(t), text);
  }

  async report(index, value) {
    await this.deliver(`s ${index.toString(16).padStart(8, "0")} ${bitsOf(value).toString(16).padStart(8, "0")}`);
  }

  knob(index) {
    return this.page.getByRole("slider", { name: NAMES[index], exact: true });
  }

  bypass() {
    return this.page.getByRole("switch", { name: "Bypass", exact: true });
  }

  presetMenu() {
    return this.page.getByRole("combobox", { name: "Preset", exact: true });
  }

  // The text the preset menu shows (null without a menu).
  async presetLabel() {
    return this.page.evaluate(() => {
      const menu = document.querySelector(".preset-menu");
      return menu ? menu.options[menu.selectedIndex].text : null;
    });
  }

  // Every control's state as the accessibility attributes give it.
  async state() {
    return this.page.evaluate(() =>
      Array.from(document.querySelectorAll('[role="slider"], [role="switch"]'), (el) => ({
        now: el.getAttribute("aria-valuenow"),
        text: el.getAttribute("aria-valuetext"),
        checked: el.getAttribute("aria-checked"),
      }))
    );
  }

  async valueOf(index) {
    if (PARAMS[index].toggled) return (await this.bypass().getAttribute("aria-checked")) === "true" ? 1 : 0;
    return Number(await this.knob(index).getAttribute("aria-valuenow"));
  }

  async center(index) {
    const box = await (PARAMS[index].toggled ? this.bypass() : this.knob(index)).boundingBox();
    return { x: box.x + box.width / 2, y: box.y + box.height / 2 };
  }
}

// A copy of the page's own files in a folder of its own, with `presets` (the text of a
// presets.js) beside them when given.
function pageCopy(presets) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "emberpress-page-copy-"));
  process.on("exit", () => fs.rmSync(dir, { recursive: true, force: true }));
  for (const name of fs.readdirSync(PAGE_DIR)) {
    if (/\.(html|js|css)$/.test(name)) fs.copyFileSync(path.join(PAGE_DIR, name), path.join(dir, name));
  }
  if (presets !== undefined) fs.writeFileSync(path.join(dir, "presets.js"), presets);
  return dir;
}

// The page as a bundle holds it: its files and the build's presets.js.
let builtDir = null;
function builtPageDir() {
  if (!builtDir) {
    assert.ok(fs.existsSync(BUILT_PRESETS), `no ${BUILT_PRESETS}: build the native tree first (tools/build.sh linux)`);
    builtDir = pageCopy(fs.readFileSync(BUILT_PRESETS, "utf8"));
  }
  return builtDir;
}

// The preset table of a presets.js, read as the page reads it.
function presetsOf(dir) {
  const window = {};
  new Function("window", fs.readFileSync(path.join(dir, "presets.js"), "utf8"))(window);
  return window.Emberpress.presets;
}

// Opens the page, runs body(editor), closes the page, then checks that nothing
// went wrong on the way. Options: width, height, webview (stand-in present), pageDir
// (the folder to open the page from; its source folder by default).
async function withEditor(browser, options, body) {
  const { width = 800, height = 400, webview = true, pageDir = PAGE_DIR } = options;
  const dirUrl = pathToFileURL(pageDir).href + "/";
  const page = await browser.context.newPage();
  await page.setViewportSize({ width, height });
  const problems = { console: [], requests: [], failed: [] };
  page.on("console", (message) => {
    if (message.type() === "error" || message.type() === "warning") problems.console.push(message.text());
  });
  page.on("pageerror", (error) => problems.console.push(String(error)));
  page.on("request", (request) => {
    const url = request.url();
    if (!url.startsWith(dirUrl) && !url.startsWith("data:")) problems.requests.push(url);
  });
  page.on("requestfailed", (request) => problems.failed.push(request.url()));
  if (webview) await page.addInitScript(standInWebview);
  const externalBefore = browser.external.length;
  await page.goto(dirUrl + "index.html");
  const editor = new Editor(page, problems);
  try {
    await body(editor);
    if (webview) for (const text of await editor.posted()) assertWellFormed(text);
  } finally {
    await page.close();
  }
  // Without presets.js the browser notes the one missing file, and nothing else fails.
  let consoleErrors = problems.console;
  if (!fs.existsSync(path.join(pageDir, "presets.js"))) {
    assert.deepEqual(problems.failed, [dirUrl + "presets.js"], "failed requests");
    const at = consoleErrors.indexOf(MISSING_FILE);
    if (at >= 0) consoleErrors = consoleErrors.filter((_, i) => i !== at);
  } else {
    assert.deepEqual(problems.failed, [], "failed requests");
  }
  assert.deepEqual(consoleErrors, [], "console errors");
  assert.deepEqual(problems.requests, [], "requests outside the page folder");
  assert.deepEqual(browser.external.slice(externalBefore), [], "network requests");
}

module.exports = {
  EXAMPLES,
  PARAMS,
  PAGE_DIR,
  PAGE_URL,
  pageCopy,
  builtPageDir,
  presetsOf,
  launchBrowser,
  withEditor,
  standInWebview,
  bitsOf,
  floatOf,
  decodeEdit,
};
