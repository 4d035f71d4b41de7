// Opens the editor page in Debian's headless Chromium with a stand-in for the
// embedded browser's message channel, and checks after every test that the page
// logged no error, asked for nothing outside its own folder and posted only
// well-formed messages.
"use strict";

const assert = require("node:assert/strict");
const fs = require("node:fs");
const os = require("node:os");
const path = require("node:path");
const { pathToFileURL } = require("node:url");
const { chromium } = require("playwright-core");

const PAGE_DIR = path.resolve(__dirname, "..");
const PAGE_URL = pathToFileURL(path.join(PAGE_DIR, "index.html")).href;
const PAGE_DIR_URL = pathToFileURL(PAGE_DIR).href + "/";
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

// Opens the page, runs body(editor), closes the page, then checks that nothing
// went wrong on the way. Options: width, height, webview (stand-in present).
async function withEditor(browser, options, body) {
  const { width = 800, height = 400, webview = true } = options;
  const page = await browser.context.newPage();
  await page.setViewportSize({ width, height });
  const problems = { console: [], requests: [] };
  page.on("console", (message) => {
    if (message.type() === "error" || message.type() === "warning") problems.console.push(message.text());
  });
  page.on("pageerror", (error) => problems.console.push(String(error)));
  page.on("request", (request) => {
    const url = request.url();
    if (!url.startsWith(PAGE_DIR_URL) && !url.startsWith("data:")) problems.requests.push(url);
  });
  if (webview) await page.addInitScript(standInWebview);
  const externalBefore = browser.external.length;
  await page.goto(PAGE_URL);
  const editor = new Editor(page, problems);
  try {
    await body(editor);
    if (webview) for (const text of await editor.posted()) assertWellFormed(text);
  } finally {
    await page.close();
  }
  assert.deepEqual(problems.console, [], "console errors");
  assert.deepEqual(problems.requests, [], "requests outside the page folder");
  assert.deepEqual(browser.external.slice(externalBefore), [], "network requests");
}

module.exports = {
  EXAMPLES,
  PARAMS,
  PAGE_DIR,
  PAGE_URL,
  launchBrowser,
  withEditor,
  standInWebview,
  bitsOf,
  floatOf,
  decodeEdit,
};
