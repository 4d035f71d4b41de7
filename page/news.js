// The news strip, fed by the per-user news store through "kestrelV1" commands.
//
// Records in the store are an 8-character version tag, a space, then either a
// JSON object (a body that starts with "{" or "[" must be one) or plain text:
//   news:   "a1b2c3d4 {"title": "New preset pack", "text": "Forty tones from the road."}"
//   latest: "e5f6a7b8 {"dismissed": "a1b2c3d4"}"  (this product's own record)
// The strip shows the news unless the latest record says the user dismissed
// that very news record; dismissing writes the latest record with the store's
// compare-and-swap, so every open editor agrees. Nothing here touches the network.
(function () {
  "use strict";

  const PRODUCT = "emberpress";
  const PREFIX = "kestrelV1 ";
  const SYNC_ATTEMPTS = 3;

  // { tag, fields } for a well-formed record, else null. fields is the JSON
  // object, or { text } for a plain-text body.
  function parseRecord(content) {
    if (typeof content !== "string" || !/^\S{8} /.test(content)) return null;
    const tag = content.slice(0, 8);
    const body = content.slice(9).trim();
    if (!/^[{[]/.test(body)) return { tag: tag, fields: { text: body } };
    try {
      const fields = JSON.parse(body);
      if (fields === null || typeof fields !== "object" || Array.isArray(fields)) return null;
      return { tag: tag, fields: fields };
    } catch (_) {
      return null;
    }
  }

  function textField(fields, name) {
    const value = fields[name];
    return typeof value === "string" ? value.replace(/\s+/g, " ").trim() : "";
  }

  function randomTag() {
    const bytes = new Uint8Array(4);
    window.crypto.getRandomValues(bytes);
    return Array.from(bytes, (b) => b.toString(16).padStart(2, "0")).join("");
  }

  function attach(panel, send) {
    const titleEl = panel.querySelector(".news-title");
    const textEl = panel.querySelector(".news-text");
    const dismissEl = panel.querySelector(".news-dismiss");
    let news = null;  // parsed news record
    let latest = null;  // parsed latest record of this product
    let ready = false;  // the init replies are complete
    let dismissing = null;  // tag being dismissed while the store may still refuse
    let attemptsLeft = 0;

    function render() {
      const title = news ? textField(news.fields, "title") : "";
      const text = news ? textField(news.fields, "text") : "";
      const dismissed = news && latest && latest.fields.dismissed === news.tag;
      const show = ready && (title || text) && !dismissed && dismissing !== news.tag;
      titleEl.textContent = title;
      textEl.textContent = text;
      panel.title = [title, text].filter(Boolean).join(" \u2014 ");
      panel.hidden = !show;
    }

    // Writes this product's latest record saying the current news was dismissed.
    // The expected tag is the one last seen; "-" when there is no record yet.
    function syncDismissal() {
      const fields = Object.assign({}, latest ? latest.fields : {}, { dismissed: dismissing });
      const content = randomTag() + " " + JSON.stringify(fields);
      const expected = latest ? latest.tag : "-";
      send("m " + PREFIX + "syncLatest " + PRODUCT + " " + expected + " " + content);
      latest = parseRecord(content);
      attemptsLeft -= 1;
    }

    dismissEl.addEventListener("click", function () {
      if (!news) return;
      dismissing = news.tag;
      attemptsLeft = SYNC_ATTEMPTS;
      syncDismissal();
      render();
    });

    // One reply of the store (the text after "m ").
    function handle(text) {
      if (!text.startsWith(PREFIX)) return;
      const rest = text.slice(PREFIX.length);
      const space = rest.indexOf(" ");
      if (space < 0) return;
      const word = rest.slice(0, space);
      const content = rest.slice(space + 1);
      switch (word) {
        case "initSid":  // the store's identifier for this user; the page needs none
          return;
        case "initNews":
        case "getNews":
        case "syncNewsConflict":  // a conflict carries the record that is there now
          news = parseRecord(content);
          break;
        case "initLatest":
          latest = parseRecord(content);
          break;
        case "initDone":
          ready = true;
          break;
        case "syncLatestConflict":
          // Another editor wrote first: take its record and try again on top of it.
          latest = parseRecord(content);
          if (dismissing !== null && (!latest || latest.fields.dismissed !== dismissing) && attemptsLeft > 0) {
            syncDismissal();
          }
          break;
        default:
          return;
      }
      render();
    }

    function start() {
      send("m " + PREFIX + "init " + PRODUCT);
    }

    render();
    return { handle: handle, start: start };
  }

  window.Emberpress = Object.assign(window.Emberpress || {}, { news: { attach: attach } });
})();
