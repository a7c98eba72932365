// Browser test of the remote page (app/web) in headless Chromium, against a server that speaks
// app/web/PROTOCOL.md: the real controller (what tests/e2e/run does) or any command.
//
//   VITRINE_E2E_CONTROLLER=build/app/showcase-controller VITRINE_E2E_SIM=build/tools/showcase-sim \
//       node page.test.mjs                               # the real controller, as run does
//   VITRINE_E2E_SERVER_CMD='path/to/server --port {port}' node page.test.mjs
//   VITRINE_E2E_URL=http://127.0.0.1:8080/ node page.test.mjs
//
// A server command is run through the shell with {port} replaced by a free loopback TCP port,
// {udp} by the port of the test's wire tap (a UDP socket on 127.0.0.1 that records every
// datagram the controller sends and passes it on to the showcase simulator while one runs) and
// {listen} by a free UDP port for the controller's answers. The test stops and restarts the
// command to check reconnection. The wire checks run only when the command sends to {udp}; the
// simulator checks also need VITRINE_E2E_SIM. With VITRINE_E2E_URL the server is already
// running and the reconnection test is skipped. The same values can be given as --controller=,
// --sim=, --server-cmd= and --url= . Screenshots go to tests/e2e/artifacts/.

import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import dgram from "node:dgram";
import { mkdirSync, readFileSync } from "node:fs";
import path from "node:path";
import { after, before, test } from "node:test";
import { fileURLToPath } from "node:url";
import { freeTcpPort, freeUdpPort, launchChromium, waitFor } from "./harness.mjs";

const here = path.dirname(fileURLToPath(import.meta.url));
const repo = path.resolve(here, "../..");
const artifacts = path.join(here, "artifacts");
mkdirSync(artifacts, { recursive: true });

const option = (name, env) => {
  const arg = process.argv.find((a) => a.startsWith(`--${name}=`));
  return arg ? arg.slice(name.length + 3) : process.env[env];
};
const fixedUrl = option("url", "VITRINE_E2E_URL");
const controller = option("controller", "VITRINE_E2E_CONTROLLER");
const simulator = option("sim", "VITRINE_E2E_SIM");
const serverCmd =
  option("server-cmd", "VITRINE_E2E_SERVER_CMD") ||
  (controller &&
    `exec ${JSON.stringify(path.resolve(controller))} --http 127.0.0.1:{port} --showcase 127.0.0.1:{udp} --listen {listen}`);
if (!serverCmd && !fixedUrl) {
  console.error(
    "page.test.mjs: no controller to test. Run tests/e2e/run, which builds the controller and the " +
      "simulator and runs this test against them (or give VITRINE_E2E_CONTROLLER, " +
      "VITRINE_E2E_SERVER_CMD or VITRINE_E2E_URL).",
  );
  process.exit(2);
}
const tapsWire = !fixedUrl && serverCmd.includes("{udp}");

const PHONE = { viewport: { width: 390, height: 844 }, deviceScaleFactor: 2, hasTouch: true, isMobile: true };
const TABLET = { viewport: { width: 1180, height: 820 }, deviceScaleFactor: 1, hasTouch: true };
const layouts = {
  main: JSON.parse(readFileSync(path.join(repo, "app/controller/Main.layout.json"), "utf8")),
  myView: JSON.parse(readFileSync(path.join(repo, "app/controller/myViewXib.layout.json"), "utf8")),
};
const PICTURE_OF = {
  mortier: "BGMortier.png", medaillon: "Medaillon.png", bouteille: "BGBouteille.png",
  chevrette: "BGChevrette.png", onguent: "BGOnguent.png", theriaque1: "Theriaque 1.png",
  theriaque2: "Theriaque 2.png", potCanon: "BGCanon.png", potCylindrique: "BGCylindrique.png",
  vaseHaut: "BGVasehaut.png", raffraichissoire: "BGRafraichissoir.png", vitrinerie: "BGVitrinerie.png",
};
const SCENE_ACTIONS = Object.keys(PICTURE_OF);

// ------------------------------------------------------------------ the server under test

async function waitForHttp(url, up, timeoutMs = 15000) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    let ok = false;
    try {
      ok = (await fetch(url, { signal: AbortSignal.timeout(1000) })).ok;
    } catch {}
    if (ok === up) return;
    if (Date.now() > deadline) throw new Error(`${url} still ${up ? "down" : "up"} after ${timeoutMs} ms`);
    await new Promise((r) => setTimeout(r, 100));
  }
}

// "/list" and friends as OSC puts them on the wire: the address and the type tags each ended by
// a NUL and padded to four bytes, then big-endian 32-bit integers.
function oscInts(address, values) {
  const padded = (text) => Buffer.concat([Buffer.from(text), Buffer.alloc(4 - (text.length % 4))]);
  const body = Buffer.alloc(4 * values.length);
  values.forEach((v, i) => body.writeInt32BE(v, 4 * i));
  return Buffer.concat([padded(address), padded("," + "i".repeat(values.length)), body]);
}
const IS = oscInts("/is", []);

// Where the controller's datagrams go: recorded, and passed on to the simulator while it runs.
class WireTap {
  async start() {
    this.datagrams = [];
    this.forwardTo = 0;
    this.socket = dgram.createSocket("udp4");
    this.socket.on("message", (message) => {
      this.datagrams.push(message);
      if (this.forwardTo) this.socket.send(message, this.forwardTo, "127.0.0.1");
    });
    await new Promise((resolve) => this.socket.bind(0, "127.0.0.1", resolve));
    this.port = this.socket.address().port;
  }
  clear() {
    this.datagrams.length = 0;
  }
  // What the scenes and the switch sent, without the once-a-second "/is".
  scenes() {
    return this.datagrams.filter((d) => !d.equals(IS));
  }
  async waitForScenes(count, what) {
    await waitFor(() => this.scenes().length >= count, what);
    await new Promise((r) => setTimeout(r, 150)); // and nothing more
    return this.scenes();
  }
  close() {
    this.socket?.close();
  }
}

// The showcase simulator as its own process, answering the controller through the tap.
class Simulator {
  async start(answerPort) {
    this.port = await freeUdpPort();
    this.output = "";
    this.child = spawn(simulator, ["--port", String(this.port), "--answer-port", String(answerPort)], {
      stdio: ["ignore", "pipe", "inherit"],
    });
    this.child.stdout.on("data", (chunk) => (this.output += chunk));
    this.exited = new Promise((resolve) => this.child.once("exit", resolve));
    await waitFor(() => this.output.includes("listening"), "the simulator to listen");
    wire.forwardTo = this.port;
  }
  async stop() {
    wire.forwardTo = 0;
    this.child?.kill("SIGTERM");
    await this.exited;
  }
}

const wire = new WireTap();

class Server {
  constructor() {
    this.child = null;
    this.port = 0;
    this.listenPort = 0;
    this.canRestart = !fixedUrl;
  }
  get url() {
    return fixedUrl || `http://127.0.0.1:${this.port}/`;
  }
  async start() {
    if (fixedUrl) return waitForHttp(this.url, true);
    if (!this.port) this.port = await freeTcpPort();
    if (!this.listenPort) this.listenPort = await freeUdpPort();
    const cmd = serverCmd
      .replaceAll("{port}", String(this.port))
      .replaceAll("{udp}", String(wire.port))
      .replaceAll("{listen}", String(this.listenPort));
    this.child = spawn(cmd, { shell: true, detached: true, stdio: ["ignore", "inherit", "inherit"] });
    this.exited = new Promise((resolve) => this.child.once("exit", resolve));
    await waitForHttp(this.url, true);
  }
  async stop() {
    if (!this.child) return;
    try {
      process.kill(-this.child.pid, "SIGTERM"); // the whole group: the shell and the server
    } catch {}
    await Promise.race([this.exited, new Promise((r) => setTimeout(r, 5000))]);
    this.child = null;
    await waitForHttp(this.url, false);
  }
}

const server = new Server();
let browser;

before(async () => {
  browser = await launchChromium();
  await wire.start();
  await server.start();
});

after(async () => {
  await browser?.close();
  await server.stop();
  wire.close();
});

// ------------------------------------------------------------------ page helpers

// Opens the page and records every frame it sends on its WebSocket.
async function openPage(device = TABLET, { route } = {}) {
  const context = await browser.newContext(device);
  const page = await context.newPage();
  page.sent = [];
  page.received = [];
  page.errors = [];
  page.on("pageerror", (e) => page.errors.push(e.message));
  // Tests also send text that is not JSON on purpose.
  const parsed = (payload) => {
    try {
      return JSON.parse(payload);
    } catch {
      return String(payload);
    }
  };
  // Every action echoes the latest heartbeat heard; page.sent keeps the actions without it.
  const undated = (message) => {
    if (message === null || typeof message !== "object" || !("action" in message)) return message;
    const { heartbeat, ...rest } = message;
    if (!Number.isSafeInteger(heartbeat)) page.errors.push(`an action without a heartbeat: ${JSON.stringify(message)}`);
    return rest;
  };
  page.on("websocket", (ws) => {
    ws.on("framesent", (f) => page.sent.push(undated(parsed(f.payload))));
    ws.on("framereceived", (f) => page.received.push(parsed(f.payload)));
  });
  if (route) await page.routeWebSocket(/\/ws$/, route);
  await page.goto(server.url);
  await linkUp(page);
  return page;
}

const linkUp = (page) => page.waitForSelector('#app[data-link="up"]', { timeout: 15000 });
const outlet = (page, name) => page.locator(`[data-outlet="${name}"]`);
const action = (page, name) => page.locator(`[data-action="${name}"]`);
const shownPicture = (page) => outlet(page, "BG_image").getAttribute("data-picture");
const press = (page, name) => action(page, name).tap();

const expectPicture = (page, name) =>
  waitFor(async () => (await shownPicture(page)) === name, `picture ${JSON.stringify(name)}`);

// Switching off goes through the page's confirmation.
async function switchTo(page, on) {
  const power = outlet(page, "button");
  if ((await power.getAttribute("aria-checked")) !== String(on)) {
    await power.tap();
    if (!on) await page.locator(".confirm-off").tap();
  }
  await waitFor(async () => (await power.getAttribute("aria-checked")) === String(on), `switch ${on}`);
}

const linkState = (page) => page.locator("#app").getAttribute("data-link");
const toastText = (page) => page.locator(".toast:not([hidden])").textContent({ timeout: 100 }).catch(() => null);

async function faderValue(page) {
  return Number(await outlet(page, "fader").getAttribute("aria-valuenow"));
}

// Drags the dimmer thumb to the height that stands for `value`, in small steps like a finger.
async function dragFader(page, value) {
  const track = await page.locator(".fader-track").boundingBox();
  const thumb = await page.locator(".fader-thumb").boundingBox();
  const x = thumb.x + thumb.width / 2;
  await page.mouse.move(x, thumb.y + thumb.height / 2);
  await page.mouse.down();
  await page.mouse.move(x, track.y + (1 - value) * track.height, { steps: 30 });
  await page.mouse.up();
}

// ------------------------------------------------------------------ tests

test("the page carries the layouts' widgets under their outlet and action names", async () => {
  const page = await openPage(TABLET);
  const mainWidgets = layouts.main.widgets;
  assert.equal(layouts.main.host, "ViewController");
  assert.equal(layouts.myView.host, "MyView");
  assert.deepEqual(layouts.myView.root, { kind: "view", outlet: "theView" });
  // Both hosts show the same screen; MyView only adds its root and the switch's second outlet.
  assert.deepEqual(
    layouts.myView.widgets.map(({ aliases, ...w }) => w),
    mainWidgets,
  );
  assert.deepEqual(layouts.myView.widgets.find((w) => w.outlet === "button").aliases, ["theButton"]);

  const outlets = mainWidgets.map((w) => w.outlet).sort();
  assert.deepEqual(outlets, ["BG_image", "apo", "bout", "button", "chev", "connexion", "fader", "med", "mor",
    "pot", "potC", "potCan", "raf", "t1", "t2", "vase"]);
  for (const w of mainWidgets) {
    const el = outlet(page, w.outlet);
    assert.equal(await el.count(), 1, `one widget for outlet ${w.outlet}`);
    assert.equal(await el.getAttribute("data-kind"), w.kind, `kind of ${w.outlet}`);
    assert.equal(await el.getAttribute("data-action"), w.action ?? null, `action of ${w.outlet}`);
    if (w.label) {
      const label = (await el.locator(".label").textContent()).replaceAll("\u00ad", "").replaceAll("\u00a0", " ");
      assert.equal(label, w.label, `label of ${w.outlet}`);
    }
  }
  assert.deepEqual(mainWidgets.filter((w) => w.kind === "button").map((w) => w.action).sort(), [...SCENE_ACTIONS].sort());
  // Every action the page can send has exactly one control.
  const actions = await page.locator("[data-action]").evaluateAll((els) => els.map((e) => e.dataset.action));
  assert.deepEqual(actions.sort(), [...SCENE_ACTIONS, "fader", "switchVideo"].sort());
  assert.deepEqual(page.errors, []);
  await page.context().close();
});

test("tapping a scene sends its action and shows its picture once the state arrives", async () => {
  const page = await openPage(PHONE);
  await switchTo(page, true);
  for (const name of ["mortier", "theriaque1", "raffraichissoire"]) {
    page.sent.length = 0;
    await action(page, name).tap();
    await expectPicture(page, PICTURE_OF[name]);
    assert.deepEqual(page.sent, [{ action: name }]);
    assert.equal(await action(page, name).getAttribute("aria-pressed"), "true");
    assert.equal(await page.locator('.scene[aria-pressed="true"]').count(), 1);
    // The picture the page points at is really served under its URL-encoded name.
    const style = await page.locator(".picture-layer.shown").getAttribute("style");
    const src = new URL(/url\("([^"]+)"\)/.exec(style)[1], server.url);
    const res = await fetch(src);
    assert.equal(res.status, 200, src.href);
    assert.equal(res.headers.get("content-type"), "image/png");
  }
  assert.match(await outlet(page, "connexion").getAttribute("data-title"), /^(|Connecté|Déconnecté)$/);
  await page.screenshot({ path: path.join(artifacts, "phone-portrait.png") });
  assert.deepEqual(page.errors, []);
  await page.context().close();
});

test("switching off disables every control and shows the all-off picture", async () => {
  const page = await openPage(TABLET);
  await switchTo(page, true);
  await press(page, "bouteille");
  await expectPicture(page, "BGBouteille.png");
  page.sent.length = 0;
  await switchTo(page, false);
  assert.deepEqual(page.sent, [{ action: "switchVideo", on: false }]);
  await expectPicture(page, "BGAllOff.png");
  for (const name of SCENE_ACTIONS) assert.equal(await action(page, name).isDisabled(), true, name);
  assert.equal(await outlet(page, "fader").getAttribute("aria-disabled"), "true");
  assert.equal(await outlet(page, "button").isDisabled(), false);
  await page.screenshot({ path: path.join(artifacts, "tablet-landscape-off.png") });

  // Disabled controls do nothing, whatever reaches them.
  page.sent.length = 0;
  await action(page, "mortier").click({ force: true });
  await dragFader(page, 0.3);
  await outlet(page, "fader").focus();
  await page.keyboard.press("ArrowDown");
  await page.waitForTimeout(150);
  assert.deepEqual(page.sent, []);
  assert.equal(await shownPicture(page), "BGAllOff.png");

  // On again: controls come back, the picture stays until a scene is chosen.
  await switchTo(page, true);
  for (const name of SCENE_ACTIONS) assert.equal(await action(page, name).isEnabled(), true, name);
  assert.equal(await outlet(page, "fader").getAttribute("aria-disabled"), "false");
  assert.equal(await shownPicture(page), "BGAllOff.png");
  assert.deepEqual(page.errors, []);
  await page.context().close();
});

test("two pages stay in step", async () => {
  const tablet = await openPage(TABLET);
  const phone = await openPage(PHONE);
  await switchTo(tablet, true);
  await switchTo(phone, true);

  await press(tablet, "chevrette");
  await expectPicture(phone, "BGChevrette.png");
  assert.equal(await action(phone, "chevrette").getAttribute("aria-pressed"), "true");

  // The dimmer: the phone drags, the tablet follows, both end on the phone's last value.
  phone.sent.length = 0;
  await dragFader(phone, 0.25);
  const faderSent = () => phone.sent.filter((m) => m.action === "fader");
  // The release always sends the finger's last value.
  await waitFor(() => Math.abs((faderSent().at(-1)?.value ?? 2) - 0.25) < 0.006, "the released value to be sent");
  const last = faderSent().at(-1).value;
  // None outside 0..1. (How many a drag sends depends on the machine's speed; what reaches the
  // showcase is bounded by the controller, checked with a burst below.)
  assert.ok(faderSent().every((m) => m.value >= 0 && m.value <= 1 && Object.keys(m).length === 2));
  await expectPicture(tablet, "BGVitrinerie.png");
  await waitFor(async () => Math.abs((await faderValue(tablet)) - last) < 0.001, "tablet's fader to follow");
  await waitFor(async () => Math.abs((await faderValue(phone)) - last) < 0.001, "phone's fader to settle");
  assert.equal(await tablet.locator(".dimmer-value").textContent(), `${Math.round(last * 100)}\u00a0%`);

  await press(tablet, "vitrinerie");
  await switchTo(phone, false);
  await expectPicture(tablet, "BGAllOff.png");
  assert.equal(await outlet(tablet, "button").getAttribute("aria-checked"), "false");
  assert.equal(await action(tablet, "vitrinerie").isDisabled(), true);
  await switchTo(tablet, true);
  await waitFor(async () => (await outlet(phone, "button").getAttribute("aria-checked")) === "true", "phone switched on");
  await waitFor(() => action(phone, "mortier").isEnabled(), "phone's scenes enabled");
  assert.deepEqual([...tablet.errors, ...phone.errors], []);
  await tablet.context().close();
  await phone.context().close();
});

test("a refused input shows the controller's message", async () => {
  // A page that has not yet seen the switch go off still offers its scenes; the controller
  // refuses the tap and the page says so. The route holds back the lagging page's state.
  let holding = false;
  const held = [];
  const errorsFromServer = [];
  let flush = null;
  const lagging = await openPage(PHONE, {
    route: (ws) => {
      const upstream = ws.connectToServer();
      ws.onMessage((m) => upstream.send(m));
      upstream.onMessage((m) => {
        const msg = JSON.parse(m);
        if (msg.type === "error") errorsFromServer.push(msg.message);
        if (holding && msg.type === "state") held.push(m);
        else ws.send(m);
      });
      flush = () => held.splice(0).forEach((m) => ws.send(m));
    },
  });
  const other = await openPage(TABLET);
  await switchTo(other, true);
  await waitFor(() => action(lagging, "mortier").isEnabled(), "lagging page enabled");

  holding = true;
  await switchTo(other, false);
  await waitFor(async () => held.length > 0, "the switch-off state to be held back");
  assert.equal(await action(lagging, "mortier").isEnabled(), true);
  await action(lagging, "mortier").tap();
  // Pending until the controller answers; its refusal ends it.
  await waitFor(async () => (await action(lagging, "mortier").getAttribute("aria-busy")) === "true", "mortier pending");

  const toast = lagging.locator(".toast");
  await toast.waitFor({ state: "visible" });
  await waitFor(async () => errorsFromServer.length > 0, "the controller's error");
  assert.ok(errorsFromServer[0].length > 0);
  // The page's own word on a silent showcase may come first; the controller's error replaces it.
  await waitFor(async () => (await toast.textContent()) === errorsFromServer[0], "the error in the toast");
  assert.equal(await action(lagging, "mortier").getAttribute("aria-busy"), "false");
  await lagging.screenshot({ path: path.join(artifacts, "phone-error.png") });
  assert.equal(await shownPicture(other), "BGAllOff.png", "the refused scene changed nothing");

  holding = false;
  flush();
  await expectPicture(lagging, "BGAllOff.png");
  assert.equal(await action(lagging, "mortier").isDisabled(), true);
  await toast.waitFor({ state: "hidden", timeout: 8000 });
  await switchTo(other, true);

  assert.deepEqual([...lagging.errors, ...other.errors], []);
  await lagging.context().close();
  await other.context().close();
});

test("the page goes on a home screen with its own icons and tells its picture in words", async () => {
  const page = await openPage(PHONE);
  const manifestUrl = new URL(await page.locator('link[rel="manifest"]').getAttribute("href"), server.url);
  const manifest = await (await fetch(manifestUrl)).json();
  assert.equal(manifest.display, "standalone");
  assert.equal(manifest.theme_color, await page.locator('meta[name="theme-color"]').getAttribute("content"));
  const icons = [
    ...manifest.icons.map((i) => [new URL(i.src, manifestUrl), i.type]),
    ...(await page.locator('link[rel~="icon"], link[rel="apple-touch-icon"]').evaluateAll((links) => links.map((l) => l.href))).map((href) => [new URL(href), null]),
  ];
  for (const [src, type] of icons) {
    const res = await fetch(src);
    assert.equal(res.status, 200, src.href);
    if (type) assert.equal(res.headers.get("content-type"), type, src.href);
  }

  // Screen readers hear the scene, never a file name.
  const words = () => outlet(page, "BG_image").getAttribute("aria-label");
  await switchTo(page, true);
  const brightness = () => page.locator("#app").evaluate((el) => el.style.getPropertyValue("--brightness"));
  const heard = [];
  for (const name of ["onguent", "theriaque2", "vitrinerie"]) {
    await press(page, name);
    await expectPicture(page, PICTURE_OF[name]);
    heard.push(await words());
  }
  // Only the whole-room picture dims with the dimmer.
  assert.equal(await brightness(), (0.2 + 0.8 * (await faderValue(page))).toFixed(3));
  await switchTo(page, false);
  await expectPicture(page, "BGAllOff.png");
  heard.push(await words());
  assert.match(heard[0], /Pot à onguent en lumière/);
  assert.match(heard[1], /Thériaque\s2 en lumière/);
  assert.match(heard[2], /tous les pots éclairés, intensité \d+\u00a0%/);
  assert.match(heard[3], /aucun pot éclairé/);
  assert.equal(await brightness(), "1");
  assert.ok(heard.every((w) => !/\.png|BG|Theriaque /.test(w)), heard.join(" | "));
  await switchTo(page, true);
  assert.deepEqual(page.errors, []);
  await page.context().close();
});

const hexOf = (buffer) => buffer.toString("hex");
const onWire = { skip: !tapsWire && "the server does not send to the wire tap" };

test("tapping mortier puts its exact levels on the wire", onWire, async () => {
  const page = await openPage(TABLET);
  await switchTo(page, true);
  wire.clear();
  await press(page, "mortier");
  await expectPicture(page, "BGMortier.png");
  const sent = await wire.waitForScenes(2, "mortier's two datagrams");
  const levels = Array(24).fill(26);
  levels[0] = 255;
  assert.deepEqual(sent.map(hexOf), [oscInts("/list", levels.slice(0, 12)), oscInts("/list2", levels.slice(12))].map(hexOf));
  // 72 bytes each: "/list" padded to 8, ",iiiiiiiiiiii" padded to 16, twelve integers.
  assert.equal(hexOf(sent[0]).slice(0, 16), "2f6c697374000000");
  assert.deepEqual(sent.map((d) => d.length), [72, 72]);
  await page.context().close();
});

test("the dimmer at half sends 127 on every channel", onWire, async () => {
  const page = await openPage(TABLET);
  await switchTo(page, true);
  wire.clear();
  await outlet(page, "fader").focus();
  await page.keyboard.press("End");
  for (let i = 0; i < 10; i++) await page.keyboard.press("ArrowDown");
  const half = [oscInts("/list", Array(12).fill(127)), oscInts("/list2", Array(12).fill(127))].map(hexOf);
  await waitFor(() => JSON.stringify(wire.scenes().slice(-2).map(hexOf)) === JSON.stringify(half), "127s on the wire");
  // The datagrams leave before the new state reaches the page.
  await expectPicture(page, "BGVitrinerie.png");
  await waitFor(async () => (await faderValue(page)) === 0.5, "the dimmer to show 0.5");
  await page.context().close();
});

test("switching off sends a dark room then /switch 0; switching on sends only /switch 1", onWire, async () => {
  const page = await openPage(TABLET);
  await switchTo(page, true);
  await press(page, "bouteille");
  await expectPicture(page, "BGBouteille.png");
  await wire.waitForScenes(2, "the scene");
  wire.clear();
  await switchTo(page, false);
  const off = await wire.waitForScenes(3, "the switch-off datagrams");
  const dark = Array(12).fill(0);
  assert.deepEqual(off.map(hexOf), [oscInts("/list", dark), oscInts("/list2", dark), oscInts("/switch", [0])].map(hexOf));
  assert.equal(hexOf(off[2]), "2f737769746368002c69000000000000");
  await expectPicture(page, "BGAllOff.png");
  for (const name of SCENE_ACTIONS) assert.equal(await action(page, name).isDisabled(), true, name);
  assert.equal(await outlet(page, "fader").getAttribute("aria-disabled"), "true");

  wire.clear();
  await switchTo(page, true);
  const on = await wire.waitForScenes(1, "/switch 1");
  assert.deepEqual(on.map(hexOf), ["2f737769746368002c69000000000001"]);
  await page.context().close();
});

test("the indicator follows the showcase simulator", { skip: (!tapsWire || !simulator) && "no simulator or wire tap" }, async () => {
  const page = await openPage(TABLET);
  const title = () => outlet(page, "connexion").getAttribute("data-title");
  await waitFor(async () => (await title()) === "Déconnecté", "Déconnecté while nothing answers", 3000);
  const sim = new Simulator();
  await sim.start(server.listenPort);
  try {
    const started = Date.now();
    // An answer counts at the tick after it arrived: two seconds at most, plus the page.
    await waitFor(async () => (await title()) === "Connecté", "Connecté", 3000);
    assert.ok(Date.now() - started < 2600, `Connecté after ${Date.now() - started} ms`);
    await switchTo(page, true);
    await press(page, "theriaque1");
    await expectPicture(page, "Theriaque 1.png");
    const line = "scene: 26 26 26 26 26 255 26 26 26 26 26 255 255 26 26 26 26 26 26 26 26 26 26 26";
    await waitFor(() => sim.output.includes(line), "the simulator to print the scene");
    await page.waitForTimeout(300);
    await page.screenshot({ path: path.join(artifacts, "tablet-connected.png") });
  } finally {
    await sim.stop();
  }
  const stopped = Date.now();
  await waitFor(async () => (await title()) === "Déconnecté", "Déconnecté once the simulator stopped", 3000);
  assert.ok(Date.now() - stopped < 2600, `Déconnecté after ${Date.now() - stopped} ms`);
  assert.deepEqual(page.errors, []);
  await page.context().close();
});

const withSimulator = { skip: (!tapsWire || !simulator) && "no simulator or wire tap" };

test("a silent showcase still gets scenes, and its return the switch and the scene", withSimulator, async () => {
  const page = await openPage(TABLET);
  const title = () => outlet(page, "connexion").getAttribute("data-title");
  await switchTo(page, true);
  const sim = new Simulator();
  await sim.start(server.listenPort);
  try {
    await waitFor(async () => (await title()) === "Connecté", "Connecté", 3000);
  } finally {
    await sim.stop();
  }
  await waitFor(async () => (await title()) === "Déconnecté", "Déconnecté", 3000);

  wire.clear();
  await press(page, "mortier");
  await expectPicture(page, "BGMortier.png");
  const levels = Array(24).fill(26);
  levels[0] = 255;
  const mortier = [oscInts("/list", levels.slice(0, 12)), oscInts("/list2", levels.slice(12))];
  assert.deepEqual((await wire.waitForScenes(2, "mortier while silent")).map(hexOf), mortier.map(hexOf));
  const toast = page.locator(".toast");
  await toast.waitFor({ state: "visible" });
  assert.match(await toast.textContent(), /^La vitrine ne répond pas/);
  await page.screenshot({ path: path.join(artifacts, "tablet-showcase-silent.png") });

  wire.clear();
  const back = new Simulator();
  await back.start(server.listenPort);
  try {
    await waitFor(() => wire.scenes().length >= 3, "the held state on the wire", 4000);
    assert.deepEqual(wire.scenes().map(hexOf), [oscInts("/switch", [1]), ...mortier].map(hexOf));
    await waitFor(() => back.output.includes("scene: 255 26 26"), "the simulator to show mortier");
    await waitFor(async () => (await title()) === "Connecté", "Connecté again", 3000);
  } finally {
    await back.stop();
  }
  assert.deepEqual(page.errors, []);
  await page.context().close();
});

test("a malformed socket message gets an error and changes nothing", async () => {
  const page = await openPage(TABLET);
  await switchTo(page, true);
  await press(page, "onguent");
  await expectPicture(page, "BGOnguent.png");
  await page.waitForTimeout(200);
  wire.clear();
  const replies = await page.evaluate(
    () =>
      new Promise((resolve) => {
        const ws = new WebSocket(`ws://${location.host}/ws`);
        const got = [];
        ws.onmessage = (event) => {
          got.push(JSON.parse(event.data));
          if (got.length === 1) {
            ws.send('{"action": "mortier"');
            ws.send(JSON.stringify({ action: "fader", value: 7 }));
            ws.send(JSON.stringify({ action: "explode" }));
          }
          if (got.filter((m) => m.type === "error").length === 3) {
            ws.close();
            resolve(got);
          }
        };
        setTimeout(() => resolve(got), 5000);
      }),
  );
  assert.equal(replies[0].type, "state");
  assert.equal(replies[0].picture, "BGOnguent.png");
  assert.deepEqual(
    replies.filter((m) => m.type === "error").map((m) => m.message),
    ["Message illisible.", "Valeur d'intensité invalide.", 'Action inconnue\u00a0: "explode"'],
  );
  await page.waitForTimeout(300);
  assert.equal(await shownPicture(page), "BGOnguent.png");
  assert.equal(await page.locator(".toast").isVisible(), false, "the other page is not told");
  if (tapsWire) assert.deepEqual(wire.scenes(), []);
  await page.context().close();
});

test("the banner shows while the controller is away and the page comes back by itself", { skip: !server.canRestart && "the server was given by URL; it cannot be restarted" }, async () => {
  const page = await openPage(TABLET);
  await press(page, "potCanon");
  await expectPicture(page, "BGCanon.png");
  const banner = page.locator(".banner");
  assert.equal(await banner.isVisible(), false);

  await server.stop();
  await banner.waitFor({ state: "visible" });
  assert.match(await banner.textContent(), /reconnexion/i);
  await waitFor(async () => (await page.locator("#app").getAttribute("data-link")) === "down", "link down");
  for (const name of SCENE_ACTIONS) assert.equal(await action(page, name).isDisabled(), true, name);
  assert.equal(await outlet(page, "button").isDisabled(), true);
  await page.screenshot({ path: path.join(artifacts, "tablet-landscape-reconnecting.png") });
  page.sent.length = 0;
  await action(page, "mortier").click({ force: true });
  assert.deepEqual(page.sent, []);

  await server.start();
  await banner.waitFor({ state: "hidden", timeout: 20000 });
  await linkUp(page);
  // The page draws what the (restarted) controller says now, not what it showed before.
  const res = await waitFor(async () => (await action(page, "mortier").isEnabled()) || (await outlet(page, "button").getAttribute("aria-checked")) === "false", "controls back");
  assert.ok(res);
  await switchTo(page, true);
  await press(page, "vaseHaut");
  await expectPicture(page, "BGVasehaut.png");
  await page.screenshot({ path: path.join(artifacts, "tablet-landscape.png") });
  assert.deepEqual(page.errors, []);
  await page.context().close();
});

test("a stray touch beside the dimmer's thumb does nothing; switching off is asked first", async () => {
  const page = await openPage(TABLET);
  await switchTo(page, true);
  assert.match(await page.locator(".dimmer-caption").textContent(), /toute la salle/);
  await press(page, "chevrette");
  await expectPicture(page, "BGChevrette.png");
  const before = await faderValue(page);
  const track = await page.locator(".fader-track").boundingBox();
  const thumb = await page.locator(".fader-thumb").boundingBox();
  page.sent.length = 0;
  // 16 px beside the thumb, on the track far from it, and a drag that starts off the thumb.
  await page.touchscreen.tap(thumb.x - 16, thumb.y + thumb.height / 2);
  await page.touchscreen.tap(track.x + track.width / 2, track.y + track.height * (before > 0.5 ? 0.9 : 0.1));
  await page.mouse.move(thumb.x - 12, track.y + track.height / 2);
  await page.mouse.down();
  await page.mouse.move(thumb.x - 12, track.y + track.height * 0.2, { steps: 5 });
  await page.mouse.up();
  // A scene tapped after them is the first thing the page sends.
  await press(page, "mortier");
  await expectPicture(page, "BGMortier.png");
  assert.deepEqual(page.sent, [{ action: "mortier" }]);
  assert.equal(await faderValue(page), before);

  // Switching off asks; cancelling sends nothing.
  const power = outlet(page, "button");
  const confirm = page.locator(".confirm");
  await power.tap();
  await confirm.waitFor({ state: "visible" });
  assert.match(await confirm.textContent(), /Éteindre la vitrine/);
  await page.locator(".confirm-cancel").tap();
  await confirm.waitFor({ state: "hidden" });
  await power.tap();
  await page.locator(".confirm-off").tap();
  await waitFor(async () => (await power.getAttribute("aria-checked")) === "false", "switched off");
  assert.deepEqual(page.sent, [{ action: "mortier" }, { action: "switchVideo", on: false }]);

  // A greyed scene says why; switching on asks nothing and invites a scene.
  await action(page, "onguent").tap({ force: true });
  await waitFor(async () => /éteinte/.test((await toastText(page)) ?? ""), "why the scene is greyed");
  await power.tap();
  await waitFor(async () => (await power.getAttribute("aria-checked")) === "true", "switched on");
  assert.equal(await confirm.isVisible(), false);
  assert.deepEqual(page.sent.slice(2), [{ action: "switchVideo", on: true }]);
  const invitation = await outlet(page, "BG_image").evaluate((e) => getComputedStyle(e, "::after").content);
  assert.match(invitation, /Touchez une scène/);
  assert.deepEqual(page.errors, []);
  await page.context().close();
});

test("an idle page gets heartbeats and no state", async () => {
  const page = await openPage(TABLET);
  const since = page.received.length;
  const beats = () => page.received.slice(since).filter((m) => m.type === "heartbeat");
  await waitFor(() => beats().length >= 6, "six heartbeats", 9000);
  const heard = page.received.slice(since);
  assert.deepEqual(heard.filter((m) => m.type !== "heartbeat"), [], "no state while nothing changes");
  const ids = beats().map((m) => m.id);
  assert.deepEqual(ids, ids.map((_, i) => ids[0] + i));
  assert.ok(beats().every((m) => Object.keys(m).length === 2));
  await page.context().close();
});

test("a burst of 1 000 dimmer messages sends a few dozen scenes at most, the last value last", onWire, async () => {
  const page = await openPage(TABLET);
  await switchTo(page, true);
  wire.clear();
  await page.evaluate(
    () =>
      new Promise((resolve, reject) => {
        const ws = new WebSocket(`ws://${location.host}/ws`);
        ws.onmessage = (event) => {
          const message = JSON.parse(event.data);
          if (message.type !== "heartbeat") return;
          for (let n = 0; n < 1000; n++)
            ws.send(JSON.stringify({ action: "fader", value: Math.round(200 + (n * 600) / 999) / 1000, heartbeat: message.id }));
          ws.close();
          resolve();
        };
        ws.onerror = reject;
      }),
  );
  const last = [oscInts("/list", Array(12).fill(204)), oscInts("/list2", Array(12).fill(204))].map(hexOf);
  await waitFor(() => JSON.stringify(wire.scenes().slice(-2).map(hexOf)) === JSON.stringify(last), "204s on the wire");
  const sent = await wire.waitForScenes(2, "the burst");
  assert.deepEqual(sent.slice(-2).map(hexOf), last, "the last value is the last sent");
  assert.equal(sent.length % 2, 0);
  assert.ok(sent.length / 2 <= 40, `${sent.length / 2} scenes for 1000 messages`);
  await waitFor(async () => (await faderValue(page)) === 0.8, "the page's dimmer at 0.8");
  assert.deepEqual(page.errors, []);
  await page.context().close();
});

const frozenController = { skip: (!tapsWire || !controller) && "needs the real controller and the wire tap" };

test("a frozen controller shows as unreachable, and a tap made meanwhile never runs late", frozenController, async () => {
  const page = await openPage(TABLET);
  await switchTo(page, true);
  await press(page, "onguent");
  await expectPicture(page, "BGOnguent.png");
  await wire.waitForScenes(2, "onguent");
  wire.clear();
  const pid = server.child.pid;
  process.kill(pid, "SIGSTOP");
  const stopped = Date.now();
  try {
    // The page cannot know yet: the tap goes out, and stays pending.
    await press(page, "mortier");
    assert.equal(await action(page, "mortier").getAttribute("aria-busy"), "true");
    await waitFor(async () => (await linkState(page)) === "down", "the controller shown unreachable", 5000);
    assert.ok(Date.now() - stopped < 5000, `unreachable after ${Date.now() - stopped} ms`);
    assert.equal(await outlet(page, "connexion").getAttribute("data-title"), "");
    assert.notEqual(await page.locator(".connexion-title").textContent(), "Connecté");
    assert.match(await page.locator(".banner").textContent(), /injoignable/);
    for (const name of SCENE_ACTIONS) assert.equal(await action(page, name).isDisabled(), true, name);
    assert.equal(await outlet(page, "button").isDisabled(), true);
    page.sent.length = 0;
    await action(page, "potCanon").click({ force: true });
    assert.deepEqual(page.sent, []);
    await page.screenshot({ path: path.join(artifacts, "tablet-unreachable.png") });
  } finally {
    process.kill(pid, "SIGCONT");
  }
  // The controller reads the held tap, refuses it as late, and the page says so.
  await waitFor(async () => /trop tard/.test((await toastText(page)) ?? ""), "the late tap refused", 8000);
  await linkUp(page);
  assert.equal(await action(page, "mortier").getAttribute("aria-busy"), "false");
  assert.equal(await shownPicture(page), "BGOnguent.png");
  assert.deepEqual(wire.scenes(), []);
  await press(page, "mortier");
  await expectPicture(page, "BGMortier.png");
  assert.equal((await wire.waitForScenes(2, "mortier once the controller runs")).length, 2);
  assert.deepEqual(page.errors, []);
  await page.context().close();
});

test("screenshots of the phone and the tablet", async () => {
  for (const [name, device, scene] of [["phone-portrait", PHONE, "theriaque1"], ["tablet-landscape", TABLET, "vitrinerie"]]) {
    const page = await openPage(device);
    await switchTo(page, true);
    await press(page, scene);
    await expectPicture(page, PICTURE_OF[scene]);
    await page.waitForTimeout(400); // let the cross-fade finish
    await page.screenshot({ path: path.join(artifacts, `${name}.png`) });
    await page.context().close();
  }
});
