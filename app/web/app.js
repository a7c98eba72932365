// Vitrine remote: draws the controller's state and sends the operator's touches back to it.
//
// The controller owns every piece of state. This page only renders the last "state" message it
// received and sends actions; it never flips a control on its own, so two tablets always show
// the same thing and a tap that the controller refuses leaves nothing half-done. The one local
// liberty is the dimmer thumb, which follows the finger while it is being dragged; a tapped
// control is marked pending until the state confirms it or an error arrives.
//
// The page never acts on a link it cannot vouch for: the controller sends a heartbeat about
// once a second, each action echoes the latest one heard (the controller refuses actions whose
// heartbeat is too old, so a touch held up by the network never runs late), and a page that
// hears nothing for a few seconds shows the controller as unreachable and stops sending.
"use strict";

(() => {
  // The scene buttons come from the controller's scene table, in its first state: action,
  // outlet, label, the picture the scene shows, and whether the dimmer scales it (the whole room).
  let scenes = [];
  const ALL_OFF_PICTURE = "BGAllOff.png";

  const RECONNECT_FIRST_MS = 500;
  const RECONNECT_MAX_MS = 8000;
  const FADER_SEND_INTERVAL_MS = 50; // at most ~20 dimmer messages a second while dragging
  const FADER_SETTLE_MS = 600; // how long the thumb may wait for the controller after release
  const TOAST_MS = 4000;
  const SILENCE_MS = 3000; // nothing heard for this long: the controller counts as unreachable
  const DROP_MS = 10000; // and for this long: the socket is given up and opened again
  // The controller's indicator title while the showcase does not answer its "/is".
  const SHOWCASE_SILENT_TITLE = "Déconnecté";

  const app = document.getElementById("app");
  const $ = (selector) => app.querySelector(selector);
  const sceneBar = $(".scenes");
  let sceneButtons = [];
  const power = $('[data-outlet="button"]');
  const fader = $('[data-outlet="fader"]');
  const dimmerValue = $(".dimmer-value");
  const picture = $('[data-outlet="BG_image"]');
  const pictureLayers = Array.from(picture.querySelectorAll(".picture-layer"));
  const ambience = $(".ambience");
  const connexion = $('[data-outlet="connexion"]');
  const connexionTitle = $(".connexion-title");
  const banner = $(".banner");
  const bannerText = $(".banner-text");
  const bannerRetry = $(".banner-retry");
  const toast = $(".toast");
  const confirmBox = $(".confirm");
  const confirmOff = $(".confirm-off");
  const confirmCancel = $(".confirm-cancel");

  let state = null; // last state from the controller; null until one arrives on this socket
  let socket = null;
  let linkUp = false; // socket open and a state received on it
  let heartbeat = null; // id of the latest heartbeat heard on this socket
  let heardAt = 0; // performance.now() of the last message of any kind
  let silent = false; // linkUp, but nothing heard for SILENCE_MS
  // Taps sent and not yet confirmed: the scene's action, the switch's requested state.
  const pending = { scene: null, switchOn: null };
  let attempts = 0;
  let reconnectTimer = 0;
  let countdownTimer = 0;
  let reconnectAt = 0;
  let toastTimer = 0;

  // ---------------------------------------------------------------- rendering

  const pictureUrl = (name) => "pictures/" + encodeURIComponent(name);

  let shownPicture = null;
  let frontLayer = 0;
  function showPicture(name) {
    if (name === shownPicture) return;
    shownPicture = name;
    picture.dataset.picture = name || "";
    // Cross-fade: the new picture comes up on the back layer, then the front one fades out.
    const next = pictureLayers[1 - frontLayer];
    const prev = pictureLayers[frontLayer];
    next.style.backgroundImage = name ? `url("${pictureUrl(name)}")` : "none";
    next.classList.add("shown");
    prev.classList.remove("shown");
    frontLayer = 1 - frontLayer;
    ambience.style.backgroundImage = name ? `url("${pictureUrl(name)}")` : "none";
  }

  // The picture in words for screen readers, after the scene marked on its button, and as bright
  // as the room: the whole-room scene follows the dimmer (never quite black, so the cabinet stays
  // visible), a jar's scene has fixed levels.
  function describePicture() {
    const shown = sceneButtons.find((b) => b.getAttribute("aria-pressed") === "true");
    const room = !!shown && shown.dataset.dimmed === "true";
    const level = faderValueFromState();
    let words = "Vitrine des pots de pharmacie, aucune scène affichée";
    if (shownPicture && room)
      words = `Vitrine des pots de pharmacie\u00a0: tous les pots éclairés, intensité ${Math.round(level * 100)}\u00a0%`;
    else if (shownPicture && shown)
      words = `Vitrine des pots de pharmacie\u00a0: ${shown.querySelector(".label").textContent.replaceAll("\u00ad", "")} en lumière, les autres dans la pénombre`;
    else if (shownPicture) words = "Vitrine des pots de pharmacie dans l’ombre, aucun pot éclairé";
    picture.setAttribute("aria-label", words);
    app.style.setProperty("--brightness", room ? (0.2 + 0.8 * level).toFixed(3) : "1");
  }

  function cssColour(tint) {
    if (!Array.isArray(tint) || tint.length !== 4 || !tint.every(Number.isFinite)) return null;
    const [r, g, b, a] = tint.map((c) => Math.min(1, Math.max(0, c)));
    return `rgba(${Math.round(r * 255)}, ${Math.round(g * 255)}, ${Math.round(b * 255)}, ${a})`;
  }

  const reachable = () => linkUp && !silent;

  function controlEnabled(outlet) {
    const control = state && state.controls && state.controls[outlet];
    return reachable() && !!control && control.enabled === true;
  }

  function faderValueFromState() {
    const control = state && state.controls && state.controls.fader;
    const v = control && Number(control.value);
    return Number.isFinite(v) ? Math.min(1, Math.max(0, v)) : 0;
  }

  function drawFader(value) {
    fader.style.setProperty("--value", String(value));
    fader.setAttribute("aria-valuenow", value.toFixed(3));
    const percent = Math.round(value * 100) + "\u00a0%";
    fader.setAttribute("aria-valuetext", percent);
    dimmerValue.textContent = percent;
  }

  // What the state confirms is no longer pending.
  function settlePending() {
    if (pending.scene && sceneShowing(state.picture)?.action === pending.scene) pending.scene = null;
    if (pending.switchOn !== null && pending.switchOn === (state.switchOn === true)) pending.switchOn = null;
  }

  function clearPending() {
    pending.scene = null;
    pending.switchOn = null;
  }

  function render() {
    app.dataset.link = reachable() ? "up" : state ? "down" : "connecting";
    if (!reachable()) closeConfirm();
    // Before the first state nothing is known: neutral placeholders, no invented values.
    app.dataset.known = String(!!state);
    if (!state) return;

    const activeAction = sceneShowing(state.picture)?.action;
    for (const button of sceneButtons) {
      // Greyed but still tappable, so that a tap on a scene of a switched-off showcase can say why.
      button.disabled = false;
      button.setAttribute("aria-disabled", String(!controlEnabled(button.dataset.outlet)));
      button.setAttribute("aria-pressed", String(button.dataset.action === activeAction));
      const waiting = button.dataset.action === pending.scene;
      button.classList.toggle("pending", waiting);
      button.setAttribute("aria-busy", String(waiting));
    }

    const on = state.switchOn === true;
    power.setAttribute("aria-checked", String(on));
    power.disabled = !reachable();
    power.querySelector(".power-state").textContent = on ? "Allumée" : "Éteinte";
    power.classList.toggle("pending", pending.switchOn !== null);
    power.setAttribute("aria-busy", String(pending.switchOn !== null));
    app.dataset.switch = on ? "on" : "off";
    if (!on) closeConfirm();

    const faderEnabled = controlEnabled("fader");
    fader.setAttribute("aria-disabled", String(!faderEnabled));
    fader.tabIndex = faderEnabled ? 0 : -1;
    if (!faderEnabled) endDrag(false);
    // A released thumb follows the controller again once the controller confirms its value.
    if (drag && drag.pointerId === null && Math.abs(faderValueFromState() - drag.lastSent) < 0.0005) {
      clearTimeout(settleTimer);
      drag = null;
    }
    if (!drag) drawFader(faderValueFromState());
    fader.classList.toggle("pending", !!drag && drag.pointerId === null);

    showPicture(typeof state.picture === "string" && state.picture !== "" ? state.picture : null);
    describePicture();

    // The indicator says what the controller last heard from the showcase; with the controller
    // itself out of reach that is unknown, whatever it said before.
    const c = state.connexion || {};
    const title = reachable() && typeof c.title === "string" ? c.title : "";
    connexion.dataset.title = title;
    connexionTitle.textContent = title || (reachable() ? "…" : "Inconnu");
    const colour = reachable() && cssColour(c.tint);
    if (colour) connexion.style.setProperty("--tint", colour);
    else connexion.style.removeProperty("--tint");
  }

  // ---------------------------------------------------------------- talking to the controller

  function send(message) {
    if (!reachable() || heartbeat === null || socket.readyState !== WebSocket.OPEN) return false;
    socket.send(JSON.stringify({ ...message, heartbeat }));
    return true;
  }

  // A scene still goes out while the showcase is silent (it may only have missed an answer),
  // but the operator should not take the picture for what the showcase shows.
  function warnIfShowcaseSilent() {
    if (state && state.connexion && state.connexion.title === SHOWCASE_SILENT_TITLE)
      showToast("La vitrine ne répond pas : scène envoyée sans confirmation.");
  }

  function socketUrl() {
    const scheme = location.protocol === "https:" ? "wss:" : "ws:";
    return `${scheme}//${location.host}/ws`;
  }

  function connect() {
    clearTimeout(reconnectTimer);
    clearInterval(countdownTimer);
    reconnectTimer = 0;
    if (socket && socket.readyState <= WebSocket.OPEN) return;
    let ws;
    try {
      ws = new WebSocket(socketUrl());
    } catch (e) {
      scheduleReconnect();
      return;
    }
    socket = ws;
    showBanner(attempts === 0 && !state ? "Connexion au contrôleur…" : "Reconnexion au contrôleur…", false);
    ws.onmessage = (event) => {
      if (ws !== socket) return;
      heardAt = performance.now();
      if (silent) {
        silent = false;
        hideBanner();
        render();
      }
      let message;
      try {
        message = JSON.parse(event.data);
      } catch (e) {
        console.warn("unreadable message from the controller", event.data);
        return;
      }
      if (!message || typeof message !== "object") return;
      if (message.type === "heartbeat") {
        if (Number.isSafeInteger(message.id) && message.id >= 0) heartbeat = message.id;
      } else if (message.type === "state") {
        if (Array.isArray(message.scenes)) drawScenes(message.scenes);
        state = message;
        if (!linkUp) {
          linkUp = true;
          attempts = 0;
          hideBanner();
          preloadPictures();
        }
        settlePending();
        render();
      } else if (message.type === "error") {
        clearPending();
        if (drag && drag.pointerId === null) endSettle();
        render();
        showToast(typeof message.message === "string" && message.message ? message.message : "Commande refusée");
      }
    };
    ws.onclose = () => {
      if (ws === socket) linkLost();
    };
    ws.onerror = () => {}; // a close always follows; it does the work
    render();
  }

  function linkLost() {
    linkUp = false;
    silent = false;
    heartbeat = null;
    clearPending();
    endDrag(false);
    render();
    scheduleReconnect();
  }

  // A controller that stopped (or a link that died without a word) closes nothing: only the
  // silence tells. After a while the socket is given up, since a dead TCP link can hang for long.
  function watchSilence() {
    if (!linkUp) return;
    const quiet = performance.now() - heardAt;
    if (quiet > DROP_MS) {
      const dead = socket;
      socket = null;
      dead.onclose = dead.onmessage = null;
      dead.close();
      linkLost();
    } else if (quiet > SILENCE_MS && !silent) {
      silent = true;
      endDrag(false);
      render();
      showBanner("Contrôleur injoignable : commandes suspendues", false);
    }
  }
  setInterval(watchSilence, 250);

  function scheduleReconnect() {
    clearTimeout(reconnectTimer);
    clearInterval(countdownTimer);
    // Exponential backoff with jitter, so a room full of tablets does not come back in lockstep.
    const base = Math.min(RECONNECT_MAX_MS, RECONNECT_FIRST_MS * 2 ** attempts);
    const delay = Math.round(base * (0.8 + Math.random() * 0.4));
    attempts += 1;
    reconnectAt = Date.now() + delay;
    reconnectTimer = setTimeout(connect, delay);
    updateCountdown();
    countdownTimer = setInterval(updateCountdown, 250);
  }

  function updateCountdown() {
    const seconds = Math.max(0, Math.ceil((reconnectAt - Date.now()) / 1000));
    showBanner(
      seconds > 0
        ? `Contrôleur injoignable · reconnexion dans ${seconds} s`
        : "Contrôleur injoignable · reconnexion…",
      true,
    );
  }

  function showBanner(text, offerRetry) {
    bannerText.textContent = text;
    bannerRetry.hidden = !offerRetry;
    banner.hidden = false;
  }

  function hideBanner() {
    banner.hidden = true;
    clearInterval(countdownTimer);
  }

  function retryNow() {
    if (linkUp) return;
    if (socket && socket.readyState === WebSocket.CONNECTING) return;
    connect();
  }

  let preloaded = false;
  function preloadPictures() {
    if (preloaded) return;
    preloaded = true;
    for (const name of [...scenes.map((scene) => scene.picture), ALL_OFF_PICTURE]) {
      const img = new Image();
      img.decoding = "async";
      img.src = pictureUrl(name);
    }
  }

  function showToast(text) {
    toast.textContent = text;
    toast.hidden = false;
    clearTimeout(toastTimer);
    toastTimer = setTimeout(() => (toast.hidden = true), TOAST_MS);
  }

  // ---------------------------------------------------------------- input

  // A greyed control says why when touched, rather than doing nothing.
  function explainUnavailable() {
    if (reachable() && state && state.switchOn !== true)
      showToast("La vitrine est éteinte : allumez-la avec l'interrupteur pour choisir une scène.");
  }

  const sceneShowing = (picture) => scenes.find((scene) => scene.picture === picture);

  // One button per scene, drawn once: a page that reconnects keeps its buttons. The jar's icon
  // is the sprite's symbol of the same action; a number ending a label stays with its word.
  function drawScenes(list) {
    if (sceneButtons.length) return;
    scenes = list.filter((scene) => scene && typeof scene.action === "string" && typeof scene.outlet === "string");
    for (const scene of scenes) {
      const button = document.createElement("button");
      button.className = "scene";
      button.type = "button";
      Object.assign(button.dataset, { outlet: scene.outlet, action: scene.action, kind: "button", dimmed: String(!!scene.dimmed) });
      button.setAttribute("aria-disabled", "true");
      const icon = document.createElementNS("http://www.w3.org/2000/svg", "svg");
      icon.setAttribute("aria-hidden", "true");
      const use = document.createElementNS("http://www.w3.org/2000/svg", "use");
      use.setAttribute("href", `#jar-${scene.action}`);
      icon.append(use);
      const label = document.createElement("span");
      label.className = "label";
      const text = String(scene.label ?? "").replace(/ (\d+)$/, "\u00a0$1");
      // Browsers without French hyphenation would cut a long word anywhere: it is set smaller.
      if (text.split(/\s/).some((word) => word.length > 12)) {
        const smaller = document.createElement("span");
        smaller.className = "label-long";
        smaller.textContent = text;
        label.append(smaller);
      } else {
        label.textContent = text;
      }
      button.append(icon, label);
      button.addEventListener("click", () => tapScene(button));
      sceneBar.append(button);
    }
    sceneButtons = Array.from(sceneBar.querySelectorAll(".scene"));
  }

  function tapScene(button) {
    if (!controlEnabled(button.dataset.outlet)) {
      explainUnavailable();
      return;
    }
    if (send({ action: button.dataset.action })) {
      pending.scene = button.dataset.action;
      render();
      warnIfShowcaseSilent();
    }
  }

  function sendSwitch(on) {
    if (send({ action: "switchVideo", on })) {
      pending.switchOn = on;
      render();
    }
  }

  // Switching off darkens the showcase for the visitors in front of it: the page asks first.
  // Switching on asks nothing.
  power.addEventListener("click", () => {
    if (!reachable() || !state) return;
    if (state.switchOn === true) openConfirm();
    else sendSwitch(true);
  });

  function openConfirm() {
    confirmBox.hidden = false;
    confirmCancel.focus({ preventScroll: true });
  }
  function closeConfirm() {
    if (confirmBox) confirmBox.hidden = true;
  }
  confirmOff.addEventListener("click", () => {
    closeConfirm();
    if (reachable() && state && state.switchOn === true) sendSwitch(false);
  });
  confirmCancel.addEventListener("click", closeConfirm);
  confirmBox.addEventListener("click", (event) => {
    if (event.target === confirmBox) closeConfirm();
  });
  document.addEventListener("keydown", (event) => {
    if (event.key === "Escape") closeConfirm();
  });

  bannerRetry.addEventListener("click", retryNow);
  toast.addEventListener("click", () => (toast.hidden = true));

  // The dimmer. Only its thumb can be dragged, as on a native slider: a stray touch on the
  // track does nothing. While a finger holds it the thumb follows the finger (by how far it
  // moved, so grabbing it off-centre does not jump) and the controller gets a rate-limited
  // stream of values, the last one always sent; afterwards the thumb is pending, and waits a
  // moment for the controller to confirm before it shows the controller's value again.
  let drag = null; // { pointerId, value, lastSent, sentAt, timer, startY, startValue }
  let settleTimer = 0;
  const thumb = fader.querySelector(".fader-thumb");

  function valueAt(clientY) {
    const track = fader.querySelector(".fader-track").getBoundingClientRect();
    const v = drag.startValue - (clientY - drag.startY) / track.height;
    return Math.round(Math.min(1, Math.max(0, v)) * 1000) / 1000;
  }

  function endSettle() {
    clearTimeout(settleTimer);
    drag = null;
  }

  function sendFader(force) {
    if (!drag) return;
    clearTimeout(drag.timer);
    drag.timer = 0;
    if (drag.value === drag.lastSent) return;
    const wait = FADER_SEND_INTERVAL_MS - (Date.now() - drag.sentAt);
    if (!force && wait > 0) {
      drag.timer = setTimeout(() => sendFader(true), wait);
      return;
    }
    if (send({ action: "fader", value: drag.value })) {
      drag.lastSent = drag.value;
      drag.sentAt = Date.now();
    }
  }

  function moveTo(value) {
    drag.value = value;
    drawFader(value);
    sendFader(false);
  }

  function beginDrag(pointerId) {
    clearTimeout(settleTimer);
    const value = faderValueFromState();
    drag = { pointerId, value, lastSent: value, sentAt: 0, timer: 0, startY: 0, startValue: value };
    fader.classList.add("dragging");
  }

  function endDrag(sendLast) {
    if (!drag) return;
    if (sendLast) sendFader(true);
    clearTimeout(drag.timer);
    const waitForConfirmation = sendLast && drag.lastSent !== faderValueFromState();
    fader.classList.remove("dragging");
    if (waitForConfirmation) {
      const held = drag;
      held.pointerId = null;
      // Timed from the last release: a key pressed again reuses the held value and restarts it.
      clearTimeout(settleTimer);
      settleTimer = setTimeout(() => {
        if (drag === held) {
          drag = null;
          render();
        }
      }, FADER_SETTLE_MS);
    } else {
      drag = null;
      render();
    }
  }

  fader.addEventListener("pointerdown", (event) => {
    if (!controlEnabled("fader")) {
      explainUnavailable();
      return;
    }
    if (drag && drag.pointerId !== null) return;
    const box = thumb.getBoundingClientRect();
    const onThumb =
      event.clientX >= box.left && event.clientX <= box.right && event.clientY >= box.top && event.clientY <= box.bottom;
    if (!onThumb) return;
    event.preventDefault();
    fader.setPointerCapture(event.pointerId);
    fader.focus({ preventScroll: true });
    beginDrag(event.pointerId);
    drag.startY = event.clientY;
  });
  fader.addEventListener("pointermove", (event) => {
    if (drag && drag.pointerId === event.pointerId) moveTo(valueAt(event.clientY));
  });
  const release = (event) => {
    if (!drag || drag.pointerId !== event.pointerId) return;
    endDrag(true);
    warnIfShowcaseSilent();
  };
  fader.addEventListener("pointerup", release);
  fader.addEventListener("pointercancel", release);
  fader.addEventListener("lostpointercapture", release);

  fader.addEventListener("keydown", (event) => {
    if (!controlEnabled("fader")) return;
    const steps = { ArrowUp: 0.05, ArrowRight: 0.05, ArrowDown: -0.05, ArrowLeft: -0.05, PageUp: 0.2, PageDown: -0.2 };
    const current = drag ? drag.value : faderValueFromState();
    let value;
    if (event.key in steps) value = current + steps[event.key];
    else if (event.key === "Home") value = 0;
    else if (event.key === "End") value = 1;
    else return;
    event.preventDefault();
    if (!drag || drag.pointerId !== null) beginDrag(null);
    moveTo(Math.round(Math.min(1, Math.max(0, value)) * 1000) / 1000);
    endDrag(true);
  });

  // A tablet that wakes up or finds the network again should not wait out its backoff.
  document.addEventListener("visibilitychange", () => {
    if (document.visibilityState === "visible") retryNow();
  });
  window.addEventListener("online", retryNow);

  connect();
})();
