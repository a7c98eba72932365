// What the browser test and the screenshot script share: ports the system picks on 127.0.0.1,
// waiting on a condition, and the headless Chromium they drive.
import dgram from "node:dgram";
import net from "node:net";
import { chromium } from "playwright-core";

export function freeTcpPort() {
  return new Promise((resolve, reject) => {
    const s = net.createServer();
    s.once("error", reject);
    s.listen(0, "127.0.0.1", () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });
}

export async function freeUdpPort() {
  const socket = dgram.createSocket("udp4");
  await new Promise((resolve) => socket.bind(0, "127.0.0.1", resolve));
  const { port } = socket.address();
  await new Promise((resolve) => socket.close(resolve));
  return port;
}

// Polls the predicate until it gives something truthy, which it returns; throws at the deadline,
// saying what it waited for (a function is asked then, to tell what it saw).
export async function waitFor(predicate, what, timeoutMs = 5000) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = await predicate();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`timed out waiting for ${typeof what === "function" ? what() : what}`);
    await new Promise((r) => setTimeout(r, 25));
  }
}

// Debian's Chromium (or CHROMIUM), headless and quiet: nothing leaves the machine on its own.
export function launchChromium() {
  return chromium.launch({
    executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync"],
  });
}
