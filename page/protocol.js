// Message forms between this page and the native editor.
//   page -> native: "b", "s", "e" + " " + index in hex + " " + the value's float32 bits in hex
//                   "g" asks for every value; "m " + text goes to the news store
//   native -> page: "s %08x %08x" reports a value; "m " + text is a news-store reply
(function () {
  "use strict";

  const scratch = new DataView(new ArrayBuffer(4));

  function floatToBits(value) {
    scratch.setFloat32(0, value);
    return scratch.getUint32(0);
  }

  function bitsToFloat(bits) {
    scratch.setUint32(0, bits);
    return scratch.getFloat32(0);
  }

  // "s 0 42480000": gesture kind, index, bits; lower-case, bits zero-padded.
  function formatEdit(kind, index, value) {
    return kind + " " + index.toString(16) + " " + floatToBits(value).toString(16).padStart(8, "0");
  }

  // A value report, or null for anything that is not one the page can use:
  // other kinds, malformed numbers, an index past the table, a non-finite value.
  const REPORT = /^s ([0-9a-f]{1,8}) ([0-9a-f]{1,8})$/i;

  function parseReport(text, parameterCount) {
    const match = REPORT.exec(text);
    if (!match) return null;
    const index = parseInt(match[1], 16);
    const value = bitsToFloat(parseInt(match[2], 16));
    if (index >= parameterCount || !Number.isFinite(value)) return null;
    return { index: index, value: value };
  }

  // Installs the message listener and returns the function that posts to the
  // native side. Without the embedded browser's channel (a plain browser) the
  // page still works and simply sends nothing.
  function connect(onMessage) {
    const webview = window.chrome && window.chrome.webview;
    if (!webview) return function () {};
    webview.addEventListener("message", function (event) {
      if (typeof event.data === "string") onMessage(event.data);
    });
    return function (text) {
      webview.postMessage(text);
    };
  }

  window.Emberpress = Object.assign(window.Emberpress || {}, {
    protocol: { floatToBits, bitsToFloat, formatEdit, parseReport, connect },
  });
})();
