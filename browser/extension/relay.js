// Carries a page's sessions between the page's own world (page.js) and the extension's
// background: one extension port per session. Only messages from this very window are taken, so
// a frame or another window cannot speak for the page.
"use strict";

(() => {
  const TO_EXTENSION = "vantrel-to-extension";
  const TO_PAGE = "vantrel-to-page";
  const ports = new Map(); // session id -> port

  const toPage = (sid, msg) => window.postMessage({ type: TO_PAGE, sid, msg }, "*");

  window.addEventListener("message", (event) => {
    if (event.source !== window || !event.data || event.data.type !== TO_EXTENSION) return;
    const { sid, msg } = event.data;
    if (typeof sid !== "string") return;
    let port = ports.get(sid);
    if (msg && msg.close === true) {
      if (port) {
        ports.delete(sid);
        port.disconnect();
      }
      return;
    }
    if (!port) {
      if (!msg || !msg.open) return;
      try {
        port = chrome.runtime.connect({ name: "vantrel-session" });
      } catch (e) {
        toPage(sid, { closed: "the Vantrel extension is not available: " + e.message });
        return;
      }
      ports.set(sid, port);
      port.onMessage.addListener((reply) => toPage(sid, reply));
      port.onDisconnect.addListener(() => {
        if (ports.get(sid) === port) ports.delete(sid);
        toPage(sid, { closed: "" });
      });
    }
    port.postMessage(msg);
  });
})();
