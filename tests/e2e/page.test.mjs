// Browser test of the remote page (app/web) in headless Chromium, against a server that speaks
// app/web/PROTOCOL.md: by default the mock controller started as a child process, or the real
// controller.
//
//   node page.test.mjs                                   # against the mock
//   VITRINE_E2E_SERVER_CMD='build/app/vitrine --http-port {port}' node page.test.mjs
//   VITRINE_E2E_URL=http://127.0.0.1:8080/ node page.test.mjs
//
// VITRINE_E2E_SERVER_CMD is run through the shell with {port} replaced by a free loopback port;
// the test stops and restarts it to check reconnection. With VITRINE_E2E_URL the server is
// already running and the reconnection test is skipped. The same values can be given as
// --server-cmd=... and --url=... . Screenshots go to tests/e2e/artifacts/.

import assert from "node:assert/strict";
import { spawn } from "node:child_process";
import { mkdirSync, readFileSync } from "node:fs";
import net from "node:net";
import path from "node:path";
import { after, before, test } from "node:test";
import { fileURLToPath } from "node:url";
import { chromium } from "playwright-core";

const here = path.dirname(fileURLToPath(import.meta.url));
const repo = path.resolve(here, "../..");
const artifacts = path.join(here, "artifacts");
mkdirSync(artifacts, { recursive: true });

const option = (name, env) => {
  const arg = process.argv.find((a) => a.startsWith(`--${name}=`));
  return arg ? arg.slice(name.length + 3) : process.env[env];
};
const fixedUrl = option("url", "VITRINE_E2E_URL");
const serverCmd =
  option("server-cmd", "VITRINE_E2E_SERVER_CMD") ||
  `${JSON.stringify(process.execPath)} ${JSON.stringify(path.join(here, "mock-controller.mjs"))} --port {port}`;

const PHONE = { viewport: { width: 390, height: 844 }, deviceScaleFactor: 2, hasTouch: true, isMobile: true };
const TABLET = { viewport: { width: 1180, height: 820 }, deviceScaleFactor: 1, hasTouch: true };
const layouts = {
  main: JSON.parse(readFileSync(path.join(repo, "app/Main.layout.json"), "utf8")),
  myView: JSON.parse(readFileSync(path.join(repo, "app/myViewXib.layout.json"), "utf8")),
};
const PICTURE_OF = {
  mortier: "BGMortier.png", medaillon: "Medaillon.png", bouteille: "BGBouteille.png",
  chevrette: "BGChevrette.png", onguent: "BGOnguent.png", theriaque1: "Theriaque 1.png",
  theriaque2: "Theriaque 2.png", potCanon: "BGCanon.png", potCylindrique: "BGCylindrique.png",
  vaseHaut: "BGVasehaut.png", raffraichissoire: "BGRafraichissoir.png", vitrinerie: "BGVitrinerie.png",
};
const SCENE_ACTIONS = Object.keys(PICTURE_OF);

// ------------------------------------------------------------------ the server under test

function freePort() {
  return new Promise((resolve, reject) => {
    const s = net.createServer();
    s.once("error", reject);
    s.listen(0, "127.0.0.1", () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });
}

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

class Server {
  constructor() {
    this.child = null;
    this.port = 0;
    this.canRestart = !fixedUrl;
  }
  get url() {
    return fixedUrl || `http://127.0.0.1:${this.port}/`;
  }
  async start() {
    if (fixedUrl) return waitForHttp(this.url, true);
    if (!this.port) this.port = await freePort();
    const cmd = serverCmd.replaceAll("{port}", String(this.port));
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
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
  await server.start();
});

after(async () => {
  await browser?.close();
  await server.stop();
});

// ------------------------------------------------------------------ page helpers

// Opens the page and records every frame it sends on its WebSocket.
async function openPage(device = TABLET, { route } = {}) {
  const context = await browser.newContext(device);
  const page = await context.newPage();
  page.sent = [];
  page.errors = [];
  page.on("pageerror", (e) => page.errors.push(e.message));
  page.on("websocket", (ws) => ws.on("framesent", (f) => page.sent.push(JSON.parse(f.payload))));
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

async function waitFor(predicate, what, timeoutMs = 5000) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = await predicate();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
    await new Promise((r) => setTimeout(r, 25));
  }
}

const expectPicture = (page, name) =>
  waitFor(async () => (await shownPicture(page)) === name, `picture ${JSON.stringify(name)}`);

async function switchTo(page, on) {
  const power = outlet(page, "button");
  if ((await power.getAttribute("aria-checked")) !== String(on)) await power.tap();
  await waitFor(async () => (await power.getAttribute("aria-checked")) === String(on), `switch ${on}`);
}

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
      const label = (await el.locator(".label").textContent()).replaceAll("\u00ad", "");
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
  // Rate-limited: fewer messages than the drag's 30 moves, none of them outside 0..1.
  assert.ok(faderSent().length < 30, `${faderSent().length} fader messages`);
  assert.ok(faderSent().every((m) => m.value >= 0 && m.value <= 1 && Object.keys(m).length === 2));
  await expectPicture(tablet, "BGVitrinerie.png");
  await waitFor(async () => Math.abs((await faderValue(tablet)) - last) < 0.001, "tablet's fader to follow");
  await waitFor(async () => Math.abs((await faderValue(phone)) - last) < 0.001, "phone's fader to settle");
  assert.equal(await tablet.locator(".dimmer-value").textContent(), `${Math.round(last * 100)} %`);

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

  const toast = lagging.locator(".toast");
  await toast.waitFor({ state: "visible" });
  await waitFor(async () => errorsFromServer.length > 0, "the controller's error");
  assert.equal(await toast.textContent(), errorsFromServer[0]);
  assert.ok(errorsFromServer[0].length > 0);
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
