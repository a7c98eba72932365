// A stand-in for the controller's web side, for developing and testing the page without the
// C++ build: it serves app/web over HTTP and speaks the WebSocket protocol of
// app/web/PROTOCOL.md, keeping the screen's state the way the controller does (scene pictures,
// master switch enabling and disabling the controls, dimmer, connection indicator). It sends no
// OSC. Node's standard library only; the WebSocket handshake and frames are done by hand.
//
//   node tests/e2e/mock-controller.mjs [--port 8080] [--showcase up|down] [--tick-ms 1000]
//
// It listens on 127.0.0.1 only and prints "listening on http://127.0.0.1:PORT/" once ready.

import { createHash } from "node:crypto";
import { readFile } from "node:fs/promises";
import http from "node:http";
import path from "node:path";
import { fileURLToPath } from "node:url";

const here = path.dirname(fileURLToPath(import.meta.url));
export const WEB_ROOT = path.resolve(here, "../../app/web");

// Action -> [outlet, picture]; the same pairing as app/Main.layout.json.
export const SCENES = {
  mortier: ["mor", "BGMortier.png"],
  medaillon: ["med", "Medaillon.png"],
  bouteille: ["bout", "BGBouteille.png"],
  chevrette: ["chev", "BGChevrette.png"],
  onguent: ["pot", "BGOnguent.png"],
  theriaque1: ["t1", "Theriaque 1.png"],
  theriaque2: ["t2", "Theriaque 2.png"],
  potCanon: ["potCan", "BGCanon.png"],
  potCylindrique: ["potC", "BGCylindrique.png"],
  vaseHaut: ["vase", "BGVasehaut.png"],
  raffraichissoire: ["raf", "BGRafraichissoir.png"],
  vitrinerie: ["apo", "BGVitrinerie.png"],
};
const SCENE_OUTLETS = ["apo", "med", "mor", "bout", "t1", "t2", "pot", "chev", "potC", "potCan", "vase", "raf"];
const CONNECTED = { title: "Connecté", tint: [0.0, 0.8, 0.0, 0.5] };
const DISCONNECTED = { title: "Déconnecté", tint: [1.0, 0.0, 0.0, 0.5] };

const STATIC = {
  "/": ["index.html", "text/html; charset=utf-8"],
  "/index.html": ["index.html", "text/html; charset=utf-8"],
  "/app.css": ["app.css", "text/css; charset=utf-8"],
  "/app.js": ["app.js", "text/javascript; charset=utf-8"],
};
const PICTURE_NAME = /^[A-Za-z0-9 ._-]+\.png$/;
const WS_GUID = "258EAFA5-E914-47DA-95CA-C5AB0DC85B11";
const MAX_MESSAGE = 64 * 1024;

export function createMockController({ port = 0, showcase = "up", tickMs = 1000, webRoot = WEB_ROOT } = {}) {
  const state = {
    picture: null,
    switchOn: true,
    controls: Object.fromEntries([
      ...SCENE_OUTLETS.map((o) => [o, { enabled: true }]),
      ["fader", { enabled: true, value: 1.0 }],
    ]),
    connexion: { title: "", tint: [0.0, 0.0, 0.0, 0.0] },
  };
  const clients = new Set();

  const stateMessage = () => JSON.stringify({ type: "state", ...state });
  const broadcast = () => {
    const text = stateMessage();
    for (const c of clients) c.sendText(text);
  };

  function setAllEnabled(enabled) {
    for (const o of [...SCENE_OUTLETS, "fader"]) state.controls[o].enabled = enabled;
  }

  // One client message; returns an error text for refused input, or null.
  function handle(client, text) {
    let msg;
    try {
      msg = JSON.parse(text);
    } catch {
      return "Message illisible.";
    }
    if (!msg || typeof msg !== "object" || Array.isArray(msg) || typeof msg.action !== "string") {
      return "Message sans action.";
    }
    const { action } = msg;
    if (action in SCENES) {
      const [outlet, picture] = SCENES[action];
      if (!state.controls[outlet].enabled) return "Scène indisponible : la vitrine est éteinte.";
      state.picture = picture;
      broadcast();
      return null;
    }
    if (action === "fader") {
      if (typeof msg.value !== "number" || !Number.isFinite(msg.value) || msg.value < 0 || msg.value > 1) {
        return "Valeur d'intensité invalide.";
      }
      if (!state.controls.fader.enabled) return "Intensité indisponible : la vitrine est éteinte.";
      state.controls.fader.value = Math.fround(msg.value);
      state.picture = SCENES.vitrinerie[1];
      broadcast();
      return null;
    }
    if (action === "switchVideo") {
      if (typeof msg.on !== "boolean") return "État d'interrupteur invalide.";
      if (msg.on === state.switchOn) {
        client.sendText(stateMessage()); // already so: nothing to do, just resynchronise
        return null;
      }
      state.switchOn = msg.on;
      setAllEnabled(msg.on);
      if (!msg.on) state.picture = "BGAllOff.png";
      broadcast();
      return null;
    }
    return `Action inconnue : ${action.slice(0, 40)}`;
  }

  const server = http.createServer(async (req, res) => {
    if (req.method !== "GET" && req.method !== "HEAD") {
      res.writeHead(405, { Allow: "GET, HEAD" }).end();
      return;
    }
    const url = new URL(req.url, "http://127.0.0.1");
    let file, type;
    if (url.pathname in STATIC) {
      [file, type] = STATIC[url.pathname];
    } else if (url.pathname.startsWith("/pictures/")) {
      let name;
      try {
        name = decodeURIComponent(url.pathname.slice("/pictures/".length));
      } catch {
        name = "";
      }
      if (PICTURE_NAME.test(name) && !name.startsWith(".")) [file, type] = ["pictures/" + name, "image/png"];
    }
    if (!file) {
      res.writeHead(404, { "Content-Type": "text/plain" }).end("not found\n");
      return;
    }
    try {
      const body = await readFile(path.join(webRoot, file));
      res.writeHead(200, { "Content-Type": type, "Content-Length": body.length, "Cache-Control": "no-cache" });
      res.end(req.method === "HEAD" ? undefined : body);
    } catch {
      res.writeHead(404, { "Content-Type": "text/plain" }).end("not found\n");
    }
  });

  server.on("upgrade", (req, socket) => {
    const url = new URL(req.url, "http://127.0.0.1");
    const key = req.headers["sec-websocket-key"];
    const origin = req.headers.origin;
    const refuse = (status) => {
      socket.end(`HTTP/1.1 ${status}\r\nConnection: close\r\nContent-Length: 0\r\n\r\n`);
    };
    if (url.pathname !== "/ws" || (req.headers.upgrade || "").toLowerCase() !== "websocket") return refuse("404 Not Found");
    if (req.headers["sec-websocket-version"] !== "13" || typeof key !== "string" || Buffer.from(key, "base64").length !== 16) {
      return refuse("400 Bad Request");
    }
    // Another site open on the tablet must not drive the showcase: a browser's socket is
    // accepted only from a page of this server.
    if (origin !== undefined && new URL(origin).host !== req.headers.host) return refuse("403 Forbidden");
    const accept = createHash("sha1").update(key + WS_GUID).digest("base64");
    socket.write(
      "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n" +
        `Sec-WebSocket-Accept: ${accept}\r\n\r\n`,
    );
    const client = wrapSocket(socket, {
      onText: (text) => {
        const error = handle(client, text);
        if (error) client.sendText(JSON.stringify({ type: "error", message: error }));
      },
      onBinary: () => client.sendText(JSON.stringify({ type: "error", message: "Message illisible." })),
      onClose: () => clients.delete(client),
    });
    clients.add(client);
    client.sendText(stateMessage());
  });

  let ticker = null;
  return {
    state,
    get url() {
      return `http://127.0.0.1:${server.address().port}/`;
    },
    listen() {
      return new Promise((resolve, reject) => {
        server.once("error", reject);
        server.listen(port, "127.0.0.1", () => {
          ticker = setInterval(() => {
            const next = showcase === "up" ? CONNECTED : DISCONNECTED;
            if (state.connexion.title !== next.title) {
              state.connexion = { ...next, tint: [...next.tint] };
              broadcast();
            }
          }, tickMs);
          resolve(this);
        });
      });
    },
    close() {
      clearInterval(ticker);
      for (const c of clients) c.destroy();
      const closed = new Promise((resolve) => server.close(() => resolve()));
      server.closeAllConnections();
      return closed;
    },
  };
}

// Minimal RFC 6455 server side: masked client frames in, unmasked frames out, fragmented text
// reassembled, ping answered, oversized or malformed input closes the connection.
function wrapSocket(socket, { onText, onBinary, onClose }) {
  let buffer = Buffer.alloc(0);
  let fragments = null; // { opcode, parts, size } while a fragmented message is arriving
  let closed = false;

  const frame = (opcode, payload) => {
    const len = payload.length;
    const head = len < 126 ? Buffer.from([0x80 | opcode, len]) : len < 65536 ? Buffer.alloc(4) : Buffer.alloc(10);
    if (len >= 126 && len < 65536) {
      head[0] = 0x80 | opcode;
      head[1] = 126;
      head.writeUInt16BE(len, 2);
    } else if (len >= 65536) {
      head[0] = 0x80 | opcode;
      head[1] = 127;
      head.writeBigUInt64BE(BigInt(len), 2);
    }
    return Buffer.concat([head, payload]);
  };
  const write = (opcode, payload) => {
    if (!closed && socket.writable) socket.write(frame(opcode, payload));
  };
  const close = (code) => {
    if (closed) return;
    const body = Buffer.alloc(2);
    body.writeUInt16BE(code, 0);
    write(0x8, body);
    closed = true;
    socket.end();
  };

  socket.setNoDelay(true);
  socket.on("data", (chunk) => {
    buffer = Buffer.concat([buffer, chunk]);
    while (!closed && buffer.length >= 2) {
      const fin = (buffer[0] & 0x80) !== 0;
      const opcode = buffer[0] & 0x0f;
      const masked = (buffer[1] & 0x80) !== 0;
      let len = buffer[1] & 0x7f;
      let offset = 2;
      if (len === 126) {
        if (buffer.length < 4) return;
        len = buffer.readUInt16BE(2);
        offset = 4;
      } else if (len === 127) {
        if (buffer.length < 10) return;
        const big = buffer.readBigUInt64BE(2);
        if (big > BigInt(MAX_MESSAGE)) return close(1009);
        len = Number(big);
        offset = 10;
      }
      if (!masked || (buffer[0] & 0x70) !== 0) return close(1002);
      if (len > MAX_MESSAGE) return close(1009);
      if (buffer.length < offset + 4 + len) return;
      const mask = buffer.subarray(offset, offset + 4);
      const payload = Buffer.from(buffer.subarray(offset + 4, offset + 4 + len));
      for (let i = 0; i < payload.length; i++) payload[i] ^= mask[i & 3];
      buffer = buffer.subarray(offset + 4 + len);

      if (opcode >= 0x8) {
        if (!fin || len > 125) return close(1002);
        if (opcode === 0x8) return close(1000);
        if (opcode === 0x9) write(0xa, payload);
        continue; // pong and reserved control frames are ignored
      }
      if (opcode === 0x0) {
        if (!fragments) return close(1002);
        fragments.parts.push(payload);
        fragments.size += len;
        if (fragments.size > MAX_MESSAGE) return close(1009);
        if (!fin) continue;
      } else if (opcode === 0x1 || opcode === 0x2) {
        if (fragments) return close(1002);
        fragments = { opcode, parts: [payload], size: len };
        if (!fin) continue;
      } else {
        return close(1002);
      }
      const message = Buffer.concat(fragments.parts);
      const kind = fragments.opcode;
      fragments = null;
      if (kind === 0x2) onBinary(message);
      else {
        const text = new TextDecoder("utf-8", { fatal: true });
        let decoded;
        try {
          decoded = text.decode(message);
        } catch {
          return close(1007);
        }
        onText(decoded);
      }
    }
  });
  const gone = () => {
    closed = true;
    onClose();
  };
  socket.on("close", gone);
  socket.on("error", () => socket.destroy());

  return {
    sendText: (text) => write(0x1, Buffer.from(text, "utf8")),
    destroy: () => {
      closed = true;
      socket.destroy();
    },
  };
}

const isMain = process.argv[1] && path.resolve(process.argv[1]) === fileURLToPath(import.meta.url);
if (isMain) {
  const arg = (name, fallback) => {
    const i = process.argv.indexOf(name);
    return i > 0 && i + 1 < process.argv.length ? process.argv[i + 1] : fallback;
  };
  const mock = createMockController({
    port: Number(arg("--port", "8080")),
    showcase: arg("--showcase", "up"),
    tickMs: Number(arg("--tick-ms", "1000")),
  });
  await mock.listen();
  console.log(`listening on ${mock.url}`);
  const stop = () => mock.close().then(() => process.exit(0));
  process.on("SIGTERM", stop);
  process.on("SIGINT", stop);
}
