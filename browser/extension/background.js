// One native host per session: each port a page's relay opens becomes one vantreltcs process
// started through native messaging, and the two are tied for life (either end closing closes
// the other, so a closed tab ends its host).
//
// The page never names its own origin: the first message to the host carries the origin the
// browser reports for the port's sender, which the host checks against its allow-list.
"use strict";

const HOST_NAME = "com.vantrel.tcs";
const PORT_NAME = "vantrel-session";

function senderOrigin(sender) {
  if (sender.origin) return sender.origin;
  try {
    return new URL(sender.url).origin;
  } catch (e) {
    return "null";
  }
}

chrome.runtime.onConnect.addListener((page) => {
  if (page.name !== PORT_NAME) return;
  // Only top-level documents and frames of ordinary tabs; never another extension.
  if (!page.sender || page.sender.id !== chrome.runtime.id || !page.sender.tab) {
    page.disconnect();
    return;
  }
  const origin = senderOrigin(page.sender);
  let host = null;
  let closed = false;

  const close = (reason) => {
    if (closed) return;
    closed = true;
    if (host) host.disconnect();
    try {
      page.postMessage({ closed: reason || "" });
    } catch (e) {
      // The page is gone already.
    }
    page.disconnect();
  };

  page.onDisconnect.addListener(() => close(""));
  page.onMessage.addListener((msg) => {
    if (closed) return;
    if (host === null) {
      // The first message opens the session; whatever origin it claims is replaced.
      const open = msg && typeof msg === "object" ? msg.open : undefined;
      if (!open || typeof open !== "object") {
        close("the first message must open the session");
        return;
      }
      try {
        host = chrome.runtime.connectNative(HOST_NAME);
      } catch (e) {
        close("the Vantrel client is not installed: " + e.message);
        return;
      }
      host.onMessage.addListener((reply) => {
        if (!closed) page.postMessage(reply);
      });
      host.onDisconnect.addListener(() => {
        const err = chrome.runtime.lastError;
        host = null;
        close(err ? err.message : "");
      });
      host.postMessage({ open: { origin, params: open.params, dialogs: open.dialogs } });
      return;
    }
    host.postMessage(msg);
  });
});
