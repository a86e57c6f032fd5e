// window.VantrelTCS: the page's handle on the Vantrel client. It does nothing until the page
// calls open(); each session is one client process, which decides whether this page may use it.
//
//   const s = await VantrelTCS.open({params: {sp_name: "gw.example", ...}, dialogs: "page"});
//   s.on("OnTCSStatusChanged", (code, text) => ...);
//   s.on("dialog", (d) => ({result: "yes"}));     // only with dialogs: "page"
//   const {result, out} = await s.call("GetRegDesktop", 0);
//   await s.put("CurFolder", "Office"); const {result: name} = await s.get("CurAppName");
//   s.close();
"use strict";

(() => {
  const TO_EXTENSION = "vantrel-to-extension";
  const TO_PAGE = "vantrel-to-page";
  const sessions = new Map(); // session id -> message handler

  const post = (sid, msg) => window.postMessage({ type: TO_EXTENSION, sid, msg }, "*");

  window.addEventListener("message", (event) => {
    if (event.source !== window || !event.data || event.data.type !== TO_PAGE) return;
    const handler = sessions.get(event.data.sid);
    if (handler) handler(event.data.msg);
  });

  function newSessionId() {
    const bytes = new Uint8Array(16);
    crypto.getRandomValues(bytes);
    return Array.from(bytes, (b) => b.toString(16).padStart(2, "0")).join("");
  }

  function open(options) {
    const opts = options || {};
    const params = opts.params || {};
    const dialogs = opts.dialogs === undefined ? "native" : opts.dialogs;
    if (typeof params !== "object" || Array.isArray(params))
      return Promise.reject(new Error("params must be an object of NAME: VALUE"));
    if (dialogs !== "page" && dialogs !== "native")
      return Promise.reject(new Error('dialogs must be "page" or "native"'));
    const text = {};
    for (const [name, value] of Object.entries(params)) text[name] = String(value);

    const sid = newSessionId();
    const pending = new Map(); // request id -> {resolve, reject}
    const handlers = new Map(); // event name -> [handler]
    let nextId = 0;
    let opened = false;
    let closedReason = null;
    let settleOpen;

    const emit = (name, args) => {
      for (const h of handlers.get(name) || []) {
        try {
          h(...args);
        } catch (e) {
          console.error(e);
        }
      }
    };

    const send = (msg) => {
      if (closedReason !== null) return false;
      post(sid, msg);
      return true;
    };

    const request = (msg) =>
      new Promise((resolve, reject) => {
        const id = ++nextId;
        if (!send({ id, ...msg })) {
          reject(new Error("session closed" + (closedReason ? ": " + closedReason : "")));
          return;
        }
        pending.set(id, { resolve, reject });
      });

    const answerDialog = async (dialog) => {
      const handler = (handlers.get("dialog") || [])[0];
      let answer = { result: "cancel" };
      if (handler) {
        try {
          answer = (await handler(dialog)) || answer;
        } catch (e) {
          console.error(e);
        }
      }
      const reply = { dialog_reply: dialog.id, result: String(answer.result || "cancel") };
      if (answer.fields && typeof answer.fields === "object") reply.fields = answer.fields;
      send(reply);
    };

    const session = Object.freeze({
      call(member, ...args) {
        const target = typeof member === "number" ? { dispid: member } : { method: String(member) };
        return request({ ...target, args });
      },
      get(member) {
        return request({ get: member });
      },
      put(member, value) {
        return request({ put: member, value });
      },
      on(name, handler) {
        if (typeof handler !== "function") throw new TypeError("handler must be a function");
        if (!handlers.has(name)) handlers.set(name, []);
        handlers.get(name).push(handler);
        return session;
      },
      close() {
        send({ close: true });
        finish("closed by the page");
      },
    });

    const finish = (reason) => {
      if (closedReason !== null) return;
      closedReason = reason;
      sessions.delete(sid);
      for (const { reject } of pending.values()) reject(new Error("session closed: " + reason));
      pending.clear();
      if (!opened) settleOpen(new Error(reason || "the Vantrel client ended"));
      else emit("close", [reason]);
    };

    sessions.set(sid, (msg) => {
      if (!msg || typeof msg !== "object") return;
      if ("closed" in msg) {
        finish(String(msg.closed || "the Vantrel client ended"));
      } else if ("opened" in msg) {
        if (msg.opened === true) {
          opened = true;
          settleOpen(null);
        } else {
          finish(String(msg.error || "refused"));
        }
      } else if ("event" in msg) {
        emit(msg.event, Array.isArray(msg.args) ? msg.args : []);
      } else if ("dialog" in msg) {
        if (dialogs === "page") answerDialog(msg);
      } else if ("id" in msg && pending.has(msg.id)) {
        const { resolve, reject } = pending.get(msg.id);
        pending.delete(msg.id);
        if ("error" in msg) reject(new Error(String(msg.error)));
        else resolve({ result: msg.result, out: msg.out || [] });
      } else if ("error" in msg) {
        emit("error", [String(msg.error)]);
      }
    });

    return new Promise((resolve, reject) => {
      settleOpen = (err) => (err ? reject(err) : resolve(session));
      post(sid, { open: { params: text, dialogs } });
    });
  }

  Object.defineProperty(window, "VantrelTCS", {
    value: Object.freeze({ open }),
    writable: false,
    configurable: false,
  });
})();
