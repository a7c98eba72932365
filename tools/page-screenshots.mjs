#!/usr/bin/env node
// Screenshots of the remote page for a person to look at, run by hand (not part of CI):
//
//   tools/page-screenshots.mjs [--controller=build/app/showcase-controller] [--sim=build/tools/showcase-sim]
//
// Starts the real controller on 127.0.0.1, aimed at a showcase simulator on 127.0.0.1 (never at
// the installation's broadcast address), opens the page in headless Chromium at iPad landscape
// (1180x820), iPad portrait (820x1180) and phone (390x844) sizes, and writes into artifacts/ one
// PNG per size and state: connected (a jar's scene), the whole room dimmed to 40 %, switched off,
// and the controller unreachable (stopped with SIGSTOP until the page says so). For each it also
// prints the texts whose contrast with what is behind them falls below 4.5:1 (measured on the
// rendered pixels) and the touch targets smaller than 44 px; --all prints every text's figure.
//
// Needs `npm ci` in tests/e2e first; CHROMIUM overrides /usr/bin/chromium.

import { spawn } from "node:child_process";
import { mkdirSync } from "node:fs";
import path from "node:path";
import { fileURLToPath } from "node:url";
import { inflateSync } from "node:zlib";
import { freeTcpPort, freeUdpPort, launchChromium, waitFor as waitWithin } from "../tests/e2e/harness.mjs";

// Processes starting and pages settling get a little longer here than in the browser test.
const waitFor = (predicate, what, timeoutMs = 10000) => waitWithin(predicate, what, timeoutMs);

const here = path.dirname(fileURLToPath(import.meta.url));
const repo = path.resolve(here, "..");
const artifacts = path.join(repo, "tests/e2e/artifacts");
mkdirSync(artifacts, { recursive: true });
const option = (name, fallback) => {
  const arg = process.argv.find((a) => a.startsWith(`--${name}=`));
  return arg ? arg.slice(name.length + 3) : fallback;
};
const controllerPath = path.resolve(option("controller", path.join(repo, "build/app/showcase-controller")));
const simPath = path.resolve(option("sim", path.join(repo, "build/tools/showcase-sim")));
const printAll = process.argv.includes("--all");

const DEVICES = {
  "ipad-landscape": { viewport: { width: 1180, height: 820 }, deviceScaleFactor: 2, hasTouch: true },
  "ipad-portrait": { viewport: { width: 820, height: 1180 }, deviceScaleFactor: 2, hasTouch: true },
  phone: { viewport: { width: 390, height: 844 }, deviceScaleFactor: 3, hasTouch: true, isMobile: true },
};

// ------------------------------------------------------------------ processes

function start(file, args, ready) {
  const child = spawn(file, args, { stdio: ["ignore", "pipe", "pipe"] });
  child.output = "";
  child.stdout.on("data", (c) => (child.output += c));
  child.stderr.on("data", (c) => (child.output += c));
  child.exited = new Promise((resolve) => child.once("exit", resolve));
  return waitFor(() => ready(child), `${path.basename(file)} to start`).then(() => child);
}

async function stop(child) {
  if (!child || child.exitCode !== null) return;
  child.kill("SIGCONT");
  child.kill("SIGTERM");
  await child.exited;
}

const httpUp = async (url) => {
  try {
    return (await fetch(url, { signal: AbortSignal.timeout(1000) })).ok;
  } catch {
    return false;
  }
};

// ------------------------------------------------------------------ pixels

// Just enough PNG to read Chromium's screenshots: 8-bit RGB or RGBA, not interlaced.
function decodePng(buffer) {
  let offset = 8;
  let width = 0, height = 0, channels = 0;
  const data = [];
  while (offset < buffer.length) {
    const length = buffer.readUInt32BE(offset);
    const type = buffer.toString("latin1", offset + 4, offset + 8);
    const body = buffer.subarray(offset + 8, offset + 8 + length);
    if (type === "IHDR") {
      width = body.readUInt32BE(0);
      height = body.readUInt32BE(4);
      if (body[8] !== 8 || body[12] !== 0 || ![2, 6].includes(body[9])) throw new Error("unexpected PNG format");
      channels = body[9] === 6 ? 4 : 3;
    } else if (type === "IDAT") data.push(body);
    offset += 12 + length;
  }
  const raw = inflateSync(Buffer.concat(data));
  const stride = width * channels;
  const pixels = Buffer.alloc(height * stride);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)];
    const line = raw.subarray(y * (stride + 1) + 1, (y + 1) * (stride + 1));
    for (let x = 0; x < stride; x++) {
      const a = x >= channels ? pixels[y * stride + x - channels] : 0;
      const b = y > 0 ? pixels[(y - 1) * stride + x] : 0;
      const c = x >= channels && y > 0 ? pixels[(y - 1) * stride + x - channels] : 0;
      const p = a + b - c;
      const paeth = Math.abs(p - a) <= Math.abs(p - b) && Math.abs(p - a) <= Math.abs(p - c) ? a : Math.abs(p - b) <= Math.abs(p - c) ? b : c;
      const predicted = [0, a, b, (a + b) >> 1, paeth][filter];
      pixels[y * stride + x] = (line[x] + predicted) & 0xff;
    }
  }
  return { width, height, channels, pixels };
}

const luminance = ([r, g, b]) => {
  const lin = (v) => ((v /= 255) <= 0.04045 ? v / 12.92 : ((v + 0.055) / 1.055) ** 2.4);
  return 0.2126 * lin(r) + 0.7152 * lin(g) + 0.0722 * lin(b);
};
const contrast = (a, b) => {
  const [hi, lo] = [luminance(a), luminance(b)].sort((x, y) => y - x);
  return (hi + 0.05) / (lo + 0.05);
};

// Every element that draws text of its own, with its colour as painted (alpha and the opacity of
// its ancestors folded in) and its box.
const TEXTS = () => {
  const out = [];
  for (const el of document.querySelectorAll("body *")) {
    const own = [...el.childNodes].some((n) => n.nodeType === Node.TEXT_NODE && n.textContent.trim());
    const pseudo = getComputedStyle(el, "::after").content;
    const hasPseudo = pseudo && pseudo !== "none" && pseudo !== "normal" && pseudo.length > 2;
    if (!own && !hasPseudo) continue;
    const style = getComputedStyle(el, own ? null : "::after");
    const box = el.getBoundingClientRect();
    if (box.width < 1 || box.height < 1 || getComputedStyle(el).visibility === "hidden" || !el.checkVisibility()) continue;
    let opacity = 1;
    for (let e = el; e; e = e.parentElement) opacity *= Number(getComputedStyle(e).opacity);
    const [r, g, b, a = 1] = style.color.match(/[\d.]+/g).map(Number);
    // The text itself is measured where it stands: a pseudo-element's text is centred in its box.
    let rect = box;
    if (own) {
      const range = document.createRange();
      range.selectNodeContents(el);
      rect = range.getBoundingClientRect();
    }
    out.push({
      text: (own ? el.textContent : pseudo).trim().replace(/\s+/g, " ").slice(0, 40),
      colour: [r, g, b], alpha: a * opacity,
      box: { x: rect.x, y: rect.y, width: rect.width, height: rect.height },
    });
  }
  return out;
};

// Each text's contrast: the background is the screenshot with every text made transparent, and
// the figure is the contrast that 95 % of the background pixels under the text reach.
async function textContrasts(page, scale) {
  const texts = await page.evaluate(TEXTS);
  const hide = await page.addStyleTag({ content: "*, *::after, *::before { color: transparent !important; text-shadow: none !important; caret-color: transparent !important; }" });
  const shot = decodePng(await page.screenshot({ animations: "disabled" }));
  await hide.evaluate((el) => el.remove());
  const measured = [];
  for (const t of texts) {
    const ratios = [];
    const x0 = Math.max(0, Math.floor(t.box.x * scale)), x1 = Math.min(shot.width, Math.ceil((t.box.x + t.box.width) * scale));
    const y0 = Math.max(0, Math.floor(t.box.y * scale)), y1 = Math.min(shot.height, Math.ceil((t.box.y + t.box.height) * scale));
    for (let y = y0; y < y1; y += 2)
      for (let x = x0; x < x1; x += 2) {
        const i = (y * shot.width + x) * shot.channels;
        const bg = [shot.pixels[i], shot.pixels[i + 1], shot.pixels[i + 2]];
        const fg = t.colour.map((c, k) => t.alpha * c + (1 - t.alpha) * bg[k]);
        ratios.push(contrast(fg, bg));
      }
    if (!ratios.length) continue;
    ratios.sort((a, b) => a - b);
    const ratio = ratios[Math.floor(ratios.length * 0.05)];
    measured.push({ ratio, text: t.text, colour: `rgba(${t.colour.join(", ")}, ${t.alpha.toFixed(2)})` });
  }
  return measured;
}

const smallTargets = (page) =>
  page.evaluate(() =>
    [...document.querySelectorAll("button, [role=slider], [role=switch], a[href], input")]
      .filter((el) => el.checkVisibility())
      .map((el) => ({ el, box: el.getBoundingClientRect() }))
      .filter(({ box }) => box.width < 44 || box.height < 44)
      .map(({ el, box }) => `${el.dataset.outlet || el.className} ${Math.round(box.width)}x${Math.round(box.height)}`),
  );

// ------------------------------------------------------------------ the run

const sim = { port: await freeUdpPort(), answer: await freeUdpPort() };
const httpPort = await freeTcpPort();
const url = `http://127.0.0.1:${httpPort}/`;
const simulator = await start(simPath, ["--port", String(sim.port), "--answer-port", String(sim.answer)],
  (c) => c.output.includes("listening"));
const startController = () =>
  start(controllerPath, ["--http", `127.0.0.1:${httpPort}`, "--showcase", `127.0.0.1:${sim.port}`, "--listen", String(sim.answer)],
    () => httpUp(url));
let controller = await startController();
const browser = await launchChromium();

const findings = [];
try {
  for (const [name, device] of Object.entries(DEVICES)) {
    const context = await browser.newContext(device);
    const page = await context.newPage();
    page.on("pageerror", (e) => findings.push(`${name}: page error ${e.message}`));
    await page.goto(url);
    const attr = (selector, a) => page.locator(selector).getAttribute(a);
    const power = '[data-outlet="button"]';
    const setSwitch = async (on) => {
      if ((await attr(power, "aria-checked")) === String(on)) return;
      await page.locator(power).tap();
      // Switching off may ask for a confirmation: take the dialog's button that says so.
      await waitFor(async () => {
        if ((await attr(power, "aria-checked")) === String(on)) return true;
        const confirm = page.locator("dialog[open] button, [role=alertdialog] button, [role=dialog] button").filter({ hasText: /teindre|onfirmer|Oui/ });
        // Only a dialog on screen: tapping the hidden one would wait for it to show.
        if (!on && (await confirm.count()) && (await confirm.first().isVisible()))
          await confirm.first().tap().catch(() => {});
        return false;
      }, `switch ${on ? "on" : "off"}`);
    };
    const shoot = async (state) => {
      await page.evaluate(() => document.activeElement?.blur());
      await page.waitForTimeout(600); // cross-fades and transitions end; this is for the eye only
      const file = path.join(artifacts, `${name}-${state}.png`);
      await page.screenshot({ path: file });
      for (const { ratio, text, colour } of await textContrasts(page, device.deviceScaleFactor)) {
        const line = `${name}-${state}: contrast ${ratio.toFixed(2)}:1 "${text}" in ${colour}`;
        if (ratio < 4.5) findings.push(line);
        else if (printAll) console.log(line);
      }
      for (const line of await smallTargets(page)) findings.push(`${name}-${state}: target ${line}`);
      console.log(`wrote ${path.relative(repo, file)}`);
    };

    await waitFor(async () => (await attr('[data-outlet="connexion"]', "data-title")) === "Connecté", "Connecté");
    await setSwitch(true);
    await page.locator('[data-action="theriaque1"]').tap();
    await waitFor(async () => (await attr('[data-outlet="BG_image"]', "data-picture")) === "Theriaque 1.png", "the scene");
    await shoot("connected");

    await page.locator('[data-outlet="fader"]').focus();
    await page.keyboard.press("End");
    for (let i = 0; i < 12; i++) await page.keyboard.press("ArrowDown");
    await waitFor(async () => Number(await attr('[data-outlet="fader"]', "aria-valuenow")) === 0.4, "the dimmer at 40 %");
    await shoot("room-dimmed");

    await setSwitch(false);
    await shoot("off");
    await setSwitch(true);

    controller.kill("SIGSTOP");
    const unreachable = () => page.evaluate(() => document.getElementById("app").dataset.link !== "up");
    try {
      await waitFor(unreachable, "the page to find the controller unreachable", 8000);
    } catch {
      // A page that does not notice a frozen controller only learns when its socket closes.
      findings.push(`${name}: the page did not notice a frozen controller within 8 s; stopped it instead`);
      await stop(controller);
      await waitFor(unreachable, "the page to find the controller gone");
    }
    await shoot("unreachable");
    if (controller.exitCode === null) controller.kill("SIGCONT");
    else controller = await startController();
    await waitFor(() => page.evaluate(() => document.getElementById("app").dataset.link === "up"), "the page back", 20000);
    await context.close();
  }
} finally {
  await browser.close();
  await stop(controller);
  await stop(simulator);
}
console.log(findings.length ? findings.join("\n") : "every text at 4.5:1 or more, every target 44 px or more");
process.exitCode = findings.length ? 1 : 0;
