// Browser test of the remote page (app/web) in headless Chromium, against the real controller
// aimed at a loopback wire tap, with the showcase simulator answering through the tap
// (tests/e2e/run builds both and gives their paths). Pages that share their set-up run their paths
// as subtests of one session, each path under its own name. Screenshots go to tests/e2e/artifacts/.

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

const { VITRINE_E2E_CONTROLLER: controller, VITRINE_E2E_SIM: simulator } = process.env;
if (!controller || !simulator) {
  console.error("page.test.mjs: no controller to test. Run tests/e2e/run, which builds the controller and the " +
    "simulator and runs this test against them (VITRINE_E2E_CONTROLLER and VITRINE_E2E_SIM).");
  process.exit(2);
}

const PHONE = { viewport: { width: 390, height: 844 }, deviceScaleFactor: 2, hasTouch: true, isMobile: true };
const TABLET = { viewport: { width: 1180, height: 820 }, deviceScaleFactor: 1, hasTouch: true };
const layout = (name) => JSON.parse(readFileSync(path.join(repo, `app/controller/${name}.layout.json`), "utf8"));
const PICTURE_OF = {
  mortier: "BGMortier.png", medaillon: "Medaillon.png", bouteille: "BGBouteille.png",
  chevrette: "BGChevrette.png", onguent: "BGOnguent.png", theriaque1: "Theriaque 1.png",
  theriaque2: "Theriaque 2.png", potCanon: "BGCanon.png", potCylindrique: "BGCylindrique.png",
  vaseHaut: "BGVasehaut.png", raffraichissoire: "BGRafraichissoir.png", vitrinerie: "BGVitrinerie.png",
};
const SCENE_ACTIONS = Object.keys(PICTURE_OF);

// ------------------------------------------------------------------ the wire and the server

// An OSC message of 32-bit integers in hex: address and type tags NUL-ended and padded to four
// bytes, then the big-endian values.
function oscInts(address, values) {
  const padded = (text) => Buffer.concat([Buffer.from(text), Buffer.alloc(4 - (text.length % 4))]);
  const body = Buffer.alloc(4 * values.length);
  values.forEach((v, i) => body.writeInt32BE(v, 4 * i));
  return Buffer.concat([padded(address), padded("," + "i".repeat(values.length)), body]).toString("hex");
}
const IS = oscInts("/is", []);
const sceneOnWire = (levels) => [oscInts("/list", levels.slice(0, 12)), oscInts("/list2", levels.slice(12))];
const flat = (level) => sceneOnWire(Array(24).fill(level));
const MORTIER = sceneOnWire([255, ...Array(23).fill(26)]);
const SWITCH = ["2f737769746368002c69000000000000", "2f737769746368002c69000000000001"];

// Where the controller's datagrams go: recorded in hex, and passed on to the simulator while
// one runs.
const wire = {
  datagrams: [],
  forwardTo: 0,
  async start() {
    this.socket = dgram.createSocket("udp4");
    this.socket.on("message", (message) => {
      this.datagrams.push(message.toString("hex"));
      if (this.forwardTo) this.socket.send(message, this.forwardTo, "127.0.0.1");
    });
    await new Promise((resolve) => this.socket.bind(0, "127.0.0.1", resolve));
    this.port = this.socket.address().port;
  },
  clear: () => (wire.datagrams.length = 0),
  scenes: () => wire.datagrams.filter((d) => d !== IS),
  endsWith: (expected) => JSON.stringify(wire.scenes().slice(-expected.length)) === JSON.stringify(expected),
  // The scenes sent up to the first "/is" that follows `count` of them. The controller sends
  // both from its one loop and the loopback keeps their order, so an action's datagrams all
  // come before the next tick's "/is": whatever else the action sent is in the list.
  settled(count, what) {
    return waitFor(() => {
      const scenes = [];
      for (const d of this.datagrams) {
        if (d !== IS) scenes.push(d);
        else if (scenes.length >= count) return scenes;
      }
    }, what, 5000);
  },
};

// The showcase simulator as its own process on a port the system picks, answering the
// controller through the tap.
async function startSimulator() {
  const sim = { output: "" };
  const child = spawn(simulator, ["--port", "0", "--answer-port", server.listenPort], { stdio: ["ignore", "pipe", "inherit"] });
  child.stdout.on("data", (chunk) => (sim.output += chunk));
  const exited = new Promise((resolve) => child.once("exit", resolve));
  const port = await waitFor(() => /listening on UDP port (\d+)/.exec(sim.output)?.[1], "the simulator to listen");
  wire.forwardTo = Number(port);
  sim.stop = async () => {
    wire.forwardTo = 0;
    child.kill("SIGTERM");
    await exited;
  };
  return sim;
}

const answers = (url) => fetch(url, { signal: AbortSignal.timeout(1000) }).then((r) => r.ok, () => false);

const server = {
  get url() { return `http://127.0.0.1:${this.port}/`; },
  async start() {
    this.port ||= await freeTcpPort();
    this.listenPort ||= await freeUdpPort();
    this.child = spawn(path.resolve(controller),
      ["--http", `127.0.0.1:${this.port}`, "--showcase", `127.0.0.1:${wire.port}`, "--listen", this.listenPort],
      { stdio: ["ignore", "inherit", "inherit"] });
    this.exited = new Promise((resolve) => this.child.once("exit", resolve));
    await waitFor(() => answers(this.url), `${this.url} to answer`, 15000);
  },
  async stop() {
    if (!this.child) return;
    this.child.kill("SIGTERM");
    await Promise.race([this.exited, new Promise((r) => setTimeout(r, 5000))]);
    this.child = null;
    await waitFor(async () => !(await answers(this.url)), `${this.url} to stop answering`, 15000);
  },
};

let browser;
before(async () => {
  browser = await launchChromium();
  await wire.start();
  await server.start();
});
after(async () => {
  await browser?.close();
  await server.stop();
  wire.socket?.close();
});

// ------------------------------------------------------------------ page helpers

// Opens the page and records every frame of its WebSocket: page.sent keeps the actions without
// the heartbeat each one must echo (one without it is a page error).
async function openPage(device, { route } = {}) {
  const page = await (await browser.newContext(device)).newPage();
  Object.assign(page, { sent: [], received: [], errors: [] });
  page.on("pageerror", (e) => page.errors.push(e.message));
  const parsed = (payload) => { try { return JSON.parse(payload); } catch { return String(payload); } };
  const undated = (message) => {
    if (message === null || typeof message !== "object" || !("action" in message)) return message;
    const { heartbeat, ...rest } = message;
    if (!Number.isSafeInteger(heartbeat)) page.errors.push(`an action without a heartbeat: ${JSON.stringify(message)}`);
    return rest;
  };
  page.on("websocket", (ws) => {
    if (page.ownClient) return void (page.ownClient = false); // a second client the test opens
    ws.on("framesent", (f) => page.sent.push(undated(parsed(f.payload))));
    ws.on("framereceived", (f) => page.received.push(parsed(f.payload)));
  });
  if (route) await page.routeWebSocket(/\/ws$/, route);
  await page.goto(server.url);
  await linkUp(page);
  return page;
}

async function closePages(...pages) {
  assert.deepEqual(pages.flatMap((p) => p.errors), []);
  for (const page of pages) await page.context().close();
}

const linkUp = (page) => page.waitForSelector('#app[data-link="up"]', { timeout: 15000 });
const outlet = (page, name) => page.locator(`[data-outlet="${name}"]`);
const action = (page, name) => page.locator(`[data-action="${name}"]`);
const press = (page, name) => action(page, name).tap();
const shownPicture = (page) => outlet(page, "BG_image").getAttribute("data-picture");
const title = (page) => outlet(page, "connexion").getAttribute("data-title");
const faderValue = async (page) => Number(await outlet(page, "fader").getAttribute("aria-valuenow"));
const toastText = (page) => page.locator(".toast:not([hidden])").textContent({ timeout: 100 }).catch(() => null);

const becomes = (what, get, expected, timeoutMs) =>
  waitFor(async () => (await get()) === expected, () => `${typeof what === "function" ? what() : what} ${JSON.stringify(expected)}`, timeoutMs);
// What a page last sent and heard besides heartbeats, for a wait that timed out.
const lately = (page) => `(sent ${JSON.stringify(page.sent.slice(-2))}, heard ${JSON.stringify(page.received.filter((m) => m.type !== "heartbeat").slice(-2))})`;
const expectPicture = (page, name) => becomes(() => `picture ${lately(page)}`, () => shownPicture(page), name);
const expectTitle = (page, text, timeoutMs) => becomes("indicator", () => title(page), text, timeoutMs);
const expectToast = (page, pattern, timeoutMs) =>
  waitFor(async () => pattern.test((await toastText(page)) ?? ""), `a toast ${pattern}`, timeoutMs);
const power = (page) => outlet(page, "button");
const expectSwitch = (page, on) => becomes("switch", () => power(page).getAttribute("aria-checked"), String(on));

// Switching off goes through the page's confirmation.
async function switchTo(page, on) {
  if ((await power(page).getAttribute("aria-checked")) !== String(on)) {
    await power(page).tap();
    if (!on) await page.locator(".confirm-off").tap();
  }
  await expectSwitch(page, on);
}

async function expectScenesDisabled(page, disabled) {
  for (const name of SCENE_ACTIONS) assert.equal(await action(page, name).isDisabled(), disabled, name);
}

// While the controller is away nothing can be touched, and a touch forced through sends nothing.
async function expectUntouchable(page) {
  await expectScenesDisabled(page, true);
  assert.equal(await power(page).isDisabled(), true);
  page.sent.length = 0;
  await action(page, "mortier").click({ force: true });
  assert.deepEqual(page.sent, []);
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

async function expectServed(url, type) {
  const res = await fetch(url);
  assert.equal(res.status, 200, url.href);
  if (type) assert.equal(res.headers.get("content-type"), type, url.href);
}

// Once the page's transitions (the pictures' cross-fade) are over; the spinners never are.
async function shoot(page, name) {
  await page.waitForFunction(() => document.getAnimations().every((a) => a.effect.getComputedTiming().iterations === Infinity));
  await page.screenshot({ path: path.join(artifacts, `${name}.png`) });
}

// A second client, run inside the page: once the first message of `firstType` arrives it sends
// `frames` (HEARTBEAT replaced by that message's id) and gives back what it heard when
// `errorsAwaited` errors have come, or at a 5 s deadline.
function rawClient(page, firstType, frames, errorsAwaited) {
  page.ownClient = true;
  return page.evaluate(([firstType, frames, errorsAwaited]) => new Promise((resolve, reject) => {
    const ws = new WebSocket(`ws://${location.host}/ws`);
    const heard = [];
    let sent = false;
    const done = () => (ws.close(), resolve(heard));
    ws.onerror = reject;
    setTimeout(done, 5000);
    ws.onmessage = (event) => {
      heard.push(JSON.parse(event.data));
      if (!sent && heard.at(-1).type === firstType) {
        sent = true;
        for (const f of frames) ws.send(f.replace("HEARTBEAT", heard.at(-1).id));
      }
      if (sent && heard.filter((m) => m.type === "error").length === errorsAwaited) done();
    };
  }), [firstType, frames, errorsAwaited]);
}

// ------------------------------------------------------------------ a phone

test("a phone", async (t) => {
  const phone = await openPage(PHONE);

  await t.test("tapping a scene sends its action, puts mortier's exact levels on the wire and shows its picture once the state arrives", async () => {
    await switchTo(phone, true);
    for (const name of ["mortier", "theriaque1", "raffraichissoire"]) {
      phone.sent.length = 0;
      wire.clear();
      await press(phone, name);
      await expectPicture(phone, PICTURE_OF[name]);
      assert.deepEqual(phone.sent, [{ action: name }]);
      if (name === "mortier") assert.deepEqual(await wire.settled(2, "mortier's two datagrams"), MORTIER);
      assert.equal(await action(phone, name).getAttribute("aria-pressed"), "true");
      assert.equal(await phone.locator('.scene[aria-pressed="true"]').count(), 1);
      // The picture the page points at is served under its URL-encoded name.
      const style = await phone.locator(".picture-layer.shown").getAttribute("style");
      await expectServed(new URL(/url\("([^"]+)"\)/.exec(style)[1], server.url), "image/png");
    }
    await shoot(phone, "phone-portrait");
  });

  await t.test("the page goes on a home screen with its own icons and tells its picture in words", async () => {
    const manifestUrl = new URL(await phone.locator('link[rel="manifest"]').getAttribute("href"), server.url);
    const manifest = await (await fetch(manifestUrl)).json();
    assert.equal(manifest.display, "standalone");
    assert.equal(manifest.theme_color, await phone.locator('meta[name="theme-color"]').getAttribute("content"));
    for (const icon of manifest.icons) await expectServed(new URL(icon.src, manifestUrl), icon.type);
    const links = phone.locator('link[rel~="icon"], link[rel="apple-touch-icon"]');
    for (const href of await links.evaluateAll((ls) => ls.map((l) => l.href))) await expectServed(new URL(href));

    // Screen readers hear the scene, never a file name; only the whole-room picture dims.
    const words = () => outlet(phone, "BG_image").getAttribute("aria-label");
    const brightness = () => phone.locator("#app").evaluate((el) => el.style.getPropertyValue("--brightness"));
    await switchTo(phone, true);
    const heard = [];
    for (const name of ["onguent", "theriaque2", "vitrinerie"]) {
      await press(phone, name);
      await expectPicture(phone, PICTURE_OF[name]);
      heard.push(await words());
    }
    assert.equal(await brightness(), (0.2 + 0.8 * (await faderValue(phone))).toFixed(3));
    await switchTo(phone, false);
    await expectPicture(phone, "BGAllOff.png");
    heard.push(await words());
    assert.equal(await brightness(), "1");
    [/Pot à onguent en lumière/, /Thériaque\s2 en lumière/, /tous les pots éclairés, intensité \d+\u00a0%/, /aucun pot éclairé/]
      .forEach((pattern, i) => assert.match(heard[i], pattern));
    assert.ok(heard.every((w) => !/\.png|BG|Theriaque /.test(w)), heard.join(" | "));
  });

  await t.test("two pages stay in step", async () => {
    const tablet = await openPage(TABLET);
    await switchTo(tablet, true);
    await expectSwitch(phone, true);
    await press(tablet, "chevrette");
    await expectPicture(phone, "BGChevrette.png");
    assert.equal(await action(phone, "chevrette").getAttribute("aria-pressed"), "true");

    // The phone drags the dimmer; its release sends the finger's last value, none is outside
    // 0..1, and both pages end on it. (How many a drag sends depends on the machine's speed;
    // what reaches the showcase is bounded by the controller, checked with a burst below.)
    phone.sent.length = 0;
    await dragFader(phone, 0.25);
    const faderSent = () => phone.sent.filter((m) => m.action === "fader");
    await waitFor(() => Math.abs((faderSent().at(-1)?.value ?? 2) - 0.25) < 0.006, "the released value to be sent");
    const last = faderSent().at(-1).value;
    assert.ok(faderSent().every((m) => m.value >= 0 && m.value <= 1 && Object.keys(m).length === 2));
    await expectPicture(tablet, "BGVitrinerie.png");
    for (const page of [tablet, phone])
      await waitFor(async () => Math.abs((await faderValue(page)) - last) < 0.001, "the faders to follow");
    assert.equal(await tablet.locator(".dimmer-value").textContent(), `${Math.round(last * 100)}\u00a0%`);

    await press(tablet, "vitrinerie");
    await switchTo(phone, false);
    await expectPicture(tablet, "BGAllOff.png");
    await expectSwitch(tablet, false);
    assert.equal(await action(tablet, "vitrinerie").isDisabled(), true);
    await switchTo(tablet, true);
    await expectSwitch(phone, true);
    await waitFor(() => action(phone, "mortier").isEnabled(), "phone's scenes enabled");
    await closePages(tablet);
  });

  await closePages(phone);
});

test("a refused input shows the controller's message", async () => {
  // A page that has not yet seen the switch go off still offers its scenes; the controller
  // refuses the tap and the page says so. The route holds back the lagging page's states, and
  // its errors until the tap has been seen pending.
  const holding = { state: false, error: false }, held = { state: [], error: [] }, refusals = [];
  let release;
  const lagging = await openPage(PHONE, {
    route: (ws) => {
      const upstream = ws.connectToServer();
      ws.onMessage((m) => upstream.send(m));
      upstream.onMessage((m) => {
        const { type, message } = JSON.parse(m);
        if (type === "error") refusals.push(message);
        if (holding[type]) held[type].push(m);
        else ws.send(m);
      });
      release = (type) => ((holding[type] = false), held[type].splice(0).forEach((m) => ws.send(m)));
    },
  });
  const other = await openPage(TABLET);
  await switchTo(other, true);
  await waitFor(() => action(lagging, "mortier").isEnabled(), "lagging page enabled");

  Object.assign(holding, { state: true, error: true });
  await switchTo(other, false);
  await waitFor(() => held.state.length > 0, "the switch-off state to be held back");
  assert.equal(await action(lagging, "mortier").isEnabled(), true);
  await press(lagging, "mortier");
  // Pending until the controller answers; its refusal ends it and replaces any word of the
  // page's own (a silent showcase) in the toast.
  const refusal = await waitFor(() => refusals[0], "the controller's error");
  assert.equal(await action(lagging, "mortier").getAttribute("aria-busy"), "true");
  release("error");
  await becomes("toast", () => toastText(lagging), refusal);
  assert.equal(await action(lagging, "mortier").getAttribute("aria-busy"), "false");
  await shoot(lagging, "phone-error");
  assert.equal(await shownPicture(other), "BGAllOff.png", "the refused scene changed nothing");

  release("state");
  await expectPicture(lagging, "BGAllOff.png");
  assert.equal(await action(lagging, "mortier").isDisabled(), true);
  await lagging.locator(".toast").waitFor({ state: "hidden", timeout: 8000 });
  await switchTo(other, true);
  await closePages(lagging, other);
});

// ------------------------------------------------------------------ a tablet

test("a tablet", async (t) => {
  const page = await openPage(TABLET);

  await t.test("the page carries the layouts' widgets under their outlet and action names", async () => {
    const [main, myView] = [layout("Main"), layout("myViewXib")];
    // Both hosts show the same screen; MyView only adds the switch's second outlet.
    assert.deepEqual(myView.widgets.map(({ aliases, ...w }) => w), main.widgets);
    for (const w of main.widgets) {
      const el = outlet(page, w.outlet);
      const label = w.label && (await el.locator(".label").textContent()).replace(/\u00ad/g, "").replace(/\u00a0/g, " ");
      const shown = [await el.count(), await el.getAttribute("data-kind"), await el.getAttribute("data-action"), label];
      assert.deepEqual(shown, [1, w.kind, w.action ?? null, w.label], `count, kind, action and label of ${w.outlet}`);
    }
    assert.deepEqual(main.widgets.filter((w) => w.kind === "button").map((w) => w.action).sort(), [...SCENE_ACTIONS].sort());
    // Every action the page can send has exactly one control.
    const actions = await page.locator("[data-action]").evaluateAll((els) => els.map((e) => e.dataset.action));
    assert.deepEqual(actions.sort(), [...SCENE_ACTIONS, "fader", "switchVideo"].sort());
  });

  await t.test("the dimmer at half sends 127 on every channel", async () => {
    await switchTo(page, true);
    wire.clear();
    await outlet(page, "fader").focus();
    // Ten steps down from the top, each confirmed before the next: a step taken once the page
    // has stopped holding its value (600 ms) starts from the controller's, which a loaded
    // machine may not have sent yet.
    const confirmed = (value) =>
      waitFor(() => page.received.findLast((m) => m.type === "state")?.controls.fader.value === value, () => `the dimmer at ${value} ${lately(page)}`);
    await page.keyboard.press("End");
    await confirmed(1);
    for (let step = 1; step <= 10; step++) {
      await page.keyboard.press("ArrowDown");
      await confirmed((1000 - 50 * step) / 1000);
    }
    await waitFor(() => wire.endsWith(flat(127)), "127s on the wire");
    await expectPicture(page, "BGVitrinerie.png");
    await becomes("the dimmer", () => faderValue(page), 0.5);
  });

  await t.test("switching off disables every control, sends a dark room then /switch 0; on again only /switch 1", async () => {
    await switchTo(page, true);
    await press(page, "bouteille");
    await expectPicture(page, "BGBouteille.png");
    await wire.settled(2, "the scene");
    wire.clear();
    page.sent.length = 0;
    await switchTo(page, false);
    assert.deepEqual(page.sent, [{ action: "switchVideo", on: false }]);
    await expectPicture(page, "BGAllOff.png");
    assert.deepEqual(await wire.settled(3, "the switch-off datagrams"), [...flat(0), SWITCH[0]]);
    await expectScenesDisabled(page, true);
    assert.equal(await outlet(page, "fader").getAttribute("aria-disabled"), "true");
    await shoot(page, "tablet-landscape-off");

    // Disabled controls send nothing, whatever reaches them: the switch, still enabled, sends
    // the next frame.
    await action(page, "mortier").click({ force: true });
    await dragFader(page, 0.3);
    await outlet(page, "fader").focus();
    await page.keyboard.press("ArrowDown");
    wire.clear();
    await switchTo(page, true);
    assert.deepEqual(page.sent, [{ action: "switchVideo", on: false }, { action: "switchVideo", on: true }]);
    assert.deepEqual(await wire.settled(1, "/switch 1"), [SWITCH[1]]);
    // The controls come back; the picture stays until a scene is chosen.
    await expectScenesDisabled(page, false);
    assert.equal(await outlet(page, "fader").getAttribute("aria-disabled"), "false");
    assert.equal(await shownPicture(page), "BGAllOff.png");
  });

  await t.test("a stray touch beside the dimmer's thumb does nothing; switching off is asked first", async () => {
    await switchTo(page, true);
    assert.match(await page.locator(".dimmer-caption").textContent(), /toute la salle/);
    await press(page, "chevrette");
    await expectPicture(page, "BGChevrette.png");
    const before = await faderValue(page);
    const track = await page.locator(".fader-track").boundingBox();
    const thumb = await page.locator(".fader-thumb").boundingBox();
    page.sent.length = 0;
    // 16 px beside the thumb, on the track far from it, and a drag that starts off the thumb;
    // a scene tapped after them is the first thing the page sends.
    await page.touchscreen.tap(thumb.x - 16, thumb.y + thumb.height / 2);
    await page.touchscreen.tap(track.x + track.width / 2, track.y + track.height * (before > 0.5 ? 0.9 : 0.1));
    await page.mouse.move(thumb.x - 12, track.y + track.height / 2);
    await page.mouse.down();
    await page.mouse.move(thumb.x - 12, track.y + track.height * 0.2, { steps: 5 });
    await page.mouse.up();
    await press(page, "mortier");
    await expectPicture(page, "BGMortier.png");
    assert.deepEqual(page.sent, [{ action: "mortier" }]);
    assert.equal(await faderValue(page), before);

    // Cancelling the confirmation sends nothing.
    const confirm = page.locator(".confirm");
    await power(page).tap();
    await confirm.waitFor({ state: "visible" });
    assert.match(await confirm.textContent(), /Éteindre la vitrine/);
    await page.locator(".confirm-cancel").tap();
    await confirm.waitFor({ state: "hidden" });
    await switchTo(page, false);
    assert.deepEqual(page.sent, [{ action: "mortier" }, { action: "switchVideo", on: false }]);

    // A greyed scene says why; switching on asks nothing and invites a scene.
    await action(page, "onguent").tap({ force: true });
    await expectToast(page, /éteinte/);
    await power(page).tap();
    await expectSwitch(page, true);
    assert.equal(await confirm.isVisible(), false);
    assert.deepEqual(page.sent.slice(2), [{ action: "switchVideo", on: true }]);
    const invitation = await outlet(page, "BG_image").evaluate((e) => getComputedStyle(e, "::after").content);
    assert.match(invitation, /Touchez une scène/);
  });

  await t.test("a malformed socket message gets an error and changes nothing", async () => {
    await switchTo(page, true);
    await press(page, "onguent");
    await expectPicture(page, "BGOnguent.png");
    await wire.settled(2, "onguent");
    const since = page.received.length;
    const bad = ['{"action": "mortier"', JSON.stringify({ action: "fader", value: 7 }), JSON.stringify({ action: "explode" })];
    const heard = await rawClient(page, "state", bad, 3);
    assert.equal(heard[0].type, "state");
    assert.equal(heard[0].picture, "BGOnguent.png");
    assert.deepEqual(
      heard.filter((m) => m.type === "error").map((m) => m.message),
      ["Message illisible.", "Valeur d'intensité invalide.", 'Action inconnue\u00a0: "explode"'],
    );
    // A good tap after them: the first state the page hears and the first scene on the wire.
    wire.clear();
    await press(page, "mortier");
    await expectPicture(page, "BGMortier.png");
    const told = page.received.slice(since).filter((m) => m.type !== "heartbeat");
    assert.deepEqual(told.map((m) => [m.type, m.picture]), [["state", "BGMortier.png"]], "nothing for the other page");
    assert.deepEqual(await wire.settled(2, "mortier"), MORTIER);
  });

  await t.test("an idle page gets heartbeats and no state", async () => {
    const since = page.received.length;
    const beats = () => page.received.slice(since).filter((m) => m.type === "heartbeat");
    await waitFor(() => beats().length >= 6, "six heartbeats", 9000);
    assert.deepEqual(page.received.slice(since).filter((m) => m.type !== "heartbeat"), [], "no state while nothing changes");
    const ids = beats().map((m) => m.id);
    assert.deepEqual(ids, ids.map((_, i) => ids[0] + i));
    assert.ok(beats().every((m) => Object.keys(m).length === 2));
  });

  await t.test("a burst of 1 000 dimmer messages sends a few dozen scenes at most, the last value last", async () => {
    await switchTo(page, true);
    wire.clear();
    const burst = Array.from({ length: 1000 }, (_, n) =>
      `{"action": "fader", "value": ${Math.round(200 + (n * 600) / 999) / 1000}, "heartbeat": HEARTBEAT}`);
    await rawClient(page, "heartbeat", burst, 0);
    await waitFor(() => wire.endsWith(flat(204)), "204s on the wire");
    const sent = await wire.settled(wire.scenes().length, "the burst");
    assert.deepEqual(sent.slice(-2), flat(204), "the last value is the last sent");
    assert.equal(sent.length % 2, 0);
    assert.ok(sent.length / 2 <= 40, `${sent.length / 2} scenes for 1000 messages`);
    await becomes("the dimmer", () => faderValue(page), 0.8);
  });

  // (The simulator's lines for each scene are its own test's; here it shows the wire reached it.)
  await t.test("a silent showcase still gets scenes; when it answers again it gets the switch and the scene, and the indicator follows", async () => {
    await expectTitle(page, "Déconnecté", 3000);
    await switchTo(page, true);
    wire.clear();
    await press(page, "mortier");
    await expectPicture(page, "BGMortier.png");
    assert.deepEqual(await wire.settled(2, "mortier while silent"), MORTIER);
    await expectToast(page, /^La vitrine ne répond pas/);

    wire.clear();
    const back = await startSimulator();
    try {
      await waitFor(() => wire.scenes().length >= 3, "the held state on the wire", 4000);
      assert.deepEqual(wire.scenes(), [SWITCH[1], ...MORTIER]);
      await waitFor(() => back.output.includes("scene: 255 26 26"), "the simulator to show mortier");
      // An answer counts at the tick after it arrived: two seconds at most, plus the page.
      await expectTitle(page, "Connecté", 2600);
      await shoot(page, "tablet-connected");
    } finally {
      await back.stop();
    }
    await expectTitle(page, "Déconnecté", 2600);
  });

  await t.test("a frozen controller shows as unreachable, and a tap made meanwhile never runs late", async () => {
    await switchTo(page, true);
    await press(page, "onguent");
    await expectPicture(page, "BGOnguent.png");
    await wire.settled(2, "onguent");
    wire.clear();
    const pid = server.child.pid;
    process.kill(pid, "SIGSTOP");
    try {
      // The page cannot know yet: the tap goes out, and stays pending.
      await press(page, "mortier");
      assert.equal(await action(page, "mortier").getAttribute("aria-busy"), "true");
      await becomes("the link", () => page.locator("#app").getAttribute("data-link"), "down", 5000);
      assert.equal(await title(page), "");
      assert.notEqual(await page.locator(".connexion-title").textContent(), "Connecté");
      assert.match(await page.locator(".banner").textContent(), /injoignable/);
      await expectUntouchable(page);
      await shoot(page, "tablet-unreachable");
    } finally {
      process.kill(pid, "SIGCONT");
    }
    // The controller reads the held tap, refuses it as late, and the page says so.
    await expectToast(page, /trop tard/, 8000);
    await linkUp(page);
    assert.equal(await action(page, "mortier").getAttribute("aria-busy"), "false");
    assert.equal(await shownPicture(page), "BGOnguent.png");
    await press(page, "mortier");
    await expectPicture(page, "BGMortier.png");
    assert.deepEqual(await wire.settled(2, "mortier once the controller runs"), MORTIER);
  });

  await t.test("the banner shows while the controller is away and the page comes back by itself", async () => {
    await switchTo(page, true);
    await press(page, "potCanon");
    await expectPicture(page, "BGCanon.png");
    const banner = page.locator(".banner");
    assert.equal(await banner.isVisible(), false);

    await server.stop();
    await banner.waitFor({ state: "visible" });
    assert.match(await banner.textContent(), /reconnexion/i);
    await becomes("the link", () => page.locator("#app").getAttribute("data-link"), "down");
    await expectUntouchable(page);
    await shoot(page, "tablet-landscape-reconnecting");

    await server.start();
    await banner.waitFor({ state: "hidden", timeout: 20000 });
    await linkUp(page);
    // The page draws what the restarted controller says now, not what it showed before.
    await waitFor(async () => (await action(page, "mortier").isEnabled()) || (await power(page).getAttribute("aria-checked")) === "false", "controls back");
    await switchTo(page, true);
    await press(page, "vaseHaut");
    await expectPicture(page, "BGVasehaut.png");
    await shoot(page, "tablet-landscape");
  });

  await closePages(page);
});
