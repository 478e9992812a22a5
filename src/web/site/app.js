// The page: the browser's calls (Web Serial, the file, catalog.json, the page's controls). The
// check, the catalog's choice, the version query, the guarded update, the confirmation and their
// words are the engine's (orvane-engine.js).
import OrvaneEngine from "./orvane-engine.js";

const $ = (id) => document.getElementById(id);
// Settings a test sets before the page loads; a user never meets them.
const settings = globalThis.orvaneTestSettings || {};
const FILE_NAME = "firmware";
const CATALOG_FILE = "catalog-file";

// catalog: the model names of catalog.json (null without one); offer: the catalog's answer for
// the chosen unit; confirming: the ports that came back while the updated unit is confirmed.
const state = {engine: null, texts: {}, units: new Map(), nextId: 1, chosen: null, file: null,
               busy: false, updating: null, catalog: null, offer: null, confirming: null};

function problem(html) {
    $("problem").innerHTML = html;
    $("problem").hidden = !html;
}

function status(text) {
    $("status").textContent = text;
}

// One engine call at a time: the engine waits for the browser's promises by suspending, and
// only one call may be suspended at once.
let queue = Promise.resolve();
function engineCall(name, types, args) {
    const call = queue.then(async () => {
        const pointer = await state.engine.ccall(name, "number", types, args, {async: true});
        const text = state.engine.UTF8ToString(pointer);
        state.engine._free(pointer);
        return JSON.parse(text);
    });
    queue = call.catch(() => {});
    return call;
}

function three(value) {
    return String(value).padStart(3, "0");
}

function unitText(unit) {
    if (!unit.answer) return "Orvane unit, being asked";
    if (!unit.answer.answered) return `Orvane unit, not answering: ${unit.answer.message}`;
    const name = (state.catalog && state.catalog.get(unit.answer.model)) || "Orvane unit";
    return `${name}, model ${unit.answer.model}, firmware version ${three(unit.answer.version)}`;
}

function system() {
    const platform = (navigator.userAgentData && navigator.userAgentData.platform) ||
                     navigator.platform || "";
    if (/linux|cros/i.test(platform)) return "linux";
    if (/win/i.test(platform)) return "windows";
    return "mac";
}

// The browser gives no reason for a port it could not open; these are the likely ones.
function openAdvice() {
    if (system() === "linux")
        return "<p>The browser could not open the unit's port. On Linux, your user must be in the " +
               "group that owns serial ports (<code>sudo usermod -aG dialout $USER</code>, then " +
               "log in again), or install orvane-update's udev rule. If Chromium is installed as " +
               "a snap, allow it serial ports: <code>snap connect chromium:raw-usb</code>. " +
               "Another program may also hold the port.</p>";
    return "<p>The browser could not open the unit's port. Install the USB bridge's driver from " +
           "the equipment's maker, and close any other program that uses the unit (another " +
           "updater, a terminal program), then connect again.</p>";
}

function render() {
    const list = $("units");
    list.replaceChildren();
    if (state.units.size === 0) {
        const item = document.createElement("li");
        item.textContent = state.texts.noEquipment || "No Orvane equipment connected";
        list.append(item);
    }
    for (const unit of state.units.values()) {
        const item = document.createElement("li");
        const label = document.createElement("label");
        const choice = document.createElement("input");
        choice.type = "radio";
        choice.name = "unit";
        choice.checked = state.chosen === unit.id;
        choice.disabled = state.busy;
        choice.addEventListener("change", () => { state.chosen = unit.id; refreshOffer(); });
        label.append(choice, " " + unitText(unit));
        item.append(label);
        list.append(item);
    }
    const unit = state.units.get(state.chosen);
    const silent = unit && unit.answer && !unit.answer.answered && !unit.answer.openFailed;
    $("recover").disabled = state.busy || !silent;
    if (!silent) $("recover").checked = false;
    $("update").disabled = state.busy || !state.file || !unit || !unit.answer ||
                           !(unit.answer.answered || $("recover").checked);
    $("cancel").disabled = !state.updating;
    $("connect").disabled = state.busy;
    $("file").disabled = state.busy;
    const offer = state.catalog && unit && unit.answer && unit.answer.answered ? state.offer : null;
    $("catalog").hidden = !offer;
    if (offer)
        $("offer").textContent = offer.found
            ? `The catalog's newest file for this unit: ${offer.name}, version ${three(offer.version)}`
            : `No file from the catalog: ${offer.message}`;
    $("use-catalog").hidden = !(offer && offer.found);
    $("use-catalog").disabled = state.busy;
}

// The catalog's file for the chosen unit, by the console's folder rule (the engine's).
async function refreshOffer() {
    const unit = state.units.get(state.chosen);
    state.offer = null;
    if (state.catalog && unit && unit.answer && unit.answer.answered)
        state.offer = await engineCall("orvane_catalog_newest", ["number"], [unit.answer.model]);
    render();
}

// catalog.json beside the page: the files (each one's model, version, size and SHA-256) and the
// models' names. Without one the page offers none; one that cannot be used is named, and left.
async function loadCatalog() {
    let response;
    try {
        response = await fetch("catalog.json", {cache: "no-store"});
    } catch (error) {
        return;
    }
    if (!response.ok) return;
    const bad = (why) => {
        problem(`<p>The firmware catalog (catalog.json) cannot be used: ${why}. Choose the ` +
                "firmware file below.</p>");
    };
    let catalog;
    try {
        catalog = await response.json();
    } catch (error) {
        return bad("it is not JSON");
    }
    const number = (value, top) => Number.isInteger(value) && value >= 0 && value <= top;
    if (!catalog || !Array.isArray(catalog.files) || !Array.isArray(catalog.models))
        return bad('it needs a list "files" and a list "models"');
    const names = new Map();
    for (const [index, model] of catalog.models.entries()) {
        if (!model || !number(model.model, 99) || typeof model.name !== "string" || !model.name)
            return bad(`models[${index}] needs "model" (0 to 99) and "name"`);
        names.set(model.model, model.name);
    }
    const files = [];
    for (const [index, file] of catalog.files.entries()) {
        if (!file || typeof file.file !== "string" || !file.file || !number(file.model, 99) ||
            !number(file.version, 99) || !number(file.size, 0x7fffffff) ||
            typeof file.sha256 !== "string" || !/^[0-9a-fA-F]{64}$/.test(file.sha256))
            return bad(`files[${index}] needs "file", "model" and "version" (0 to 99), "size" ` +
                       'and "sha256" (64 hexadecimal digits)');
        files.push(file);
    }
    await engineCall("orvane_catalog_clear", [], []).catch(() => {});
    for (const file of files)
        await engineCall("orvane_catalog_add",
                         ["string", "string", "number", "number", "number", "string"],
                         [new URL(file.file, response.url).href, file.file.split("/").pop(),
                          file.model, file.version, file.size, file.sha256.toLowerCase()])
            .catch(() => {});
    state.catalog = names;
}

// Fetches the offered file and checks it against its size, SHA-256, model and version in the
// catalog before it may be used; a file that differs is refused with why.
async function useCatalogFile() {
    const offer = state.offer;
    if (!offer || !offer.found || state.busy) return;
    state.busy = true;
    render();
    try {
        let bytes;
        try {
            const response = await fetch(offer.url, {cache: "no-store"});
            if (!response.ok) throw new Error(`HTTP ${response.status}`);
            bytes = new Uint8Array(await response.arrayBuffer());
        } catch (error) {
            status(`The catalog's file ${offer.name} cannot be fetched: ${error.message}`);
            return;
        }
        state.engine.orvaneFiles.set(CATALOG_FILE, bytes);
        const listed = await engineCall(
            "orvane_check_listed", ["string", "string", "number", "number", "number", "string"],
            [CATALOG_FILE, offer.name, offer.model, offer.version, offer.size, offer.sha256]);
        state.engine.orvaneFiles.delete(CATALOG_FILE);
        if (!listed.accepted) {
            status(listed.message);
            return;
        }
        state.engine.orvaneFiles.set(FILE_NAME, bytes);
        state.file = offer.name;
        status(`Firmware file: ${offer.name} from the catalog (${bytes.length} bytes, as listed)`);
    } finally {
        state.busy = false;
        render();
    }
}

async function addPort(port) {
    for (const unit of state.units.values()) if (unit.port === port) return;
    const unit = {id: state.nextId++, port, answer: null};
    state.units.set(unit.id, unit);
    state.engine.orvanePorts.set(unit.id, port);
    if (state.confirming) state.confirming.add(unit.id);
    if (state.chosen === null) state.chosen = unit.id;
    render();
    unit.answer = await engineCall("orvane_ask", ["number"], [unit.id]);
    unit.answer.openFailed = !unit.answer.answered && /Master COM port/.test(unit.answer.message);
    if (unit.answer.openFailed) problem(openAdvice());
    if (state.chosen === unit.id) await refreshOffer();
    render();
}

function removePort(port) {
    for (const unit of state.units.values()) {
        if (unit.port !== port) continue;
        const line = state.engine.orvaneLines && state.engine.orvaneLines.get(unit.id);
        if (line) line.lost = true;
        state.units.delete(unit.id);
        state.engine.orvanePorts.delete(unit.id);
        if (state.confirming) state.confirming.delete(unit.id);
        if (state.chosen === unit.id) state.chosen = state.units.keys().next().value ?? null;
    }
    render();
}

async function chooseFile(file) {
    if (!file || state.busy) return;
    const bytes = new Uint8Array(await file.arrayBuffer());
    state.engine.orvaneFiles.set(FILE_NAME, bytes);
    state.file = file.name;
    status(`Firmware file: ${file.name} (${bytes.length} bytes)`);
    render();
}

function showProgress(done, total, startedAt) {
    const percent = total ? Math.floor(done * 100 / total) : 100;
    $("progress").value = percent;
    $("progress").setAttribute("aria-valuetext", `${percent}%`);
    const seconds = (performance.now() - startedAt) / 1000;
    const rate = seconds > 0 ? Math.round(done / seconds) : 0;
    const left = rate > 0 ? `${Math.ceil((total - done) / rate)} s left` : "time left unknown";
    $("figures").textContent =
        `${done} of ${total} bytes written (${percent}%), ${rate} bytes/s, ${left}`;
}

// The second confirmation of a recovery, in a dialog of the page's own: true to send.
function confirmRecovery(check) {
    $("recover-question").textContent =
        "The unit does not answer, so this file cannot be checked against it. It is for model " +
        `${check.model ?? "unknown"}, version ${check.version ?? "unknown"}. If the unit is not ` +
        "of that model, it may not start again. Send the file to it?";
    return new Promise((resolve) => {
        const answer = (send) => { $("recover-dialog").close(); resolve(send); };
        $("recover-yes").onclick = () => answer(true);
        $("recover-no").onclick = () => answer(false);
        $("recover-dialog").oncancel = () => resolve(false);
        $("recover-dialog").showModal();
    });
}

async function update() {
    const unit = state.units.get(state.chosen);
    if (!unit || !state.file || state.busy) return;
    state.busy = true;
    problem("");
    render();
    try {
        const recovering = !unit.answer.answered;
        const check = await engineCall("orvane_check", ["string", "number", "number", "number"],
                                       [FILE_NAME, unit.answer.model ?? -1,
                                        unit.answer.version ?? -1,
                                        $("allow-older").checked ? 1 : 0]);
        if (recovering ? !check.sha256 : !check.accepted) {
            status(check.message);
            return;
        }
        if (recovering && !(await confirmRecovery(check))) {
            status("Not sent.");
            return;
        }
        status(state.texts.sending);
        const startedAt = performance.now();
        state.engine.orvaneCancelRequested = false;
        state.engine.orvaneProgress = (done, total) => showProgress(done, total, startedAt);
        state.updating = unit;
        render();
        const result = await engineCall(
            "orvane_update",
            ["number", "string", "number", "string", "number", "number", "number", "number"],
            [unit.id, FILE_NAME, check.size, check.sha256, recovering ? 0 : 1,
             unit.answer.model ?? -1, unit.answer.version ?? -1, settings.stallLimitMs || 0]);
        status(result.cancelled ? "Update cancelled: the unit may need the update again, as " +
                                  "its firmware may be incomplete." : result.message);
        state.updating = null;
        if (result.updated) await confirmVersion(unit, recovering ? check.model : unit.answer.model,
                                                 check.version);
    } finally {
        state.busy = false;
        state.updating = null;
        if ($("cancel-dialog").open) $("cancel-dialog").close();
        render();
    }
}

// After "successfully updated": whether the unit answers again with the new version, within the
// console's --verify limits. It may come back on a new port: the ports that appear meanwhile
// (connect events, and the granted ports at each question) are asked with the updated one, and
// only one of them answering with its model confirms.
async function confirmVersion(unit, model, version) {
    state.confirming = new Set(state.units.has(unit.id) ? [unit.id] : []);
    const limit = settings.verifyLimitMs || state.texts.confirmLimitMs;
    $("confirmation").textContent = `Asking the unit for version ${three(version)} (at most ` +
                                    `${Math.round(limit / 1000)} s, while it restarts)...`;
    render();
    state.engine.orvaneReturning = async () => {
        // Not awaited: each new port's own question waits for this confirmation to end.
        for (const port of await navigator.serial.getPorts()) addPort(port);
        return [...state.confirming];
    };
    try {
        const result = await engineCall(
            "orvane_confirm", ["number", "number", "number", "number", "number"],
            [unit.id, model, unit.answer.version ?? -1, version, settings.verifyLimitMs || 0]);
        $("confirmation").textContent = `Version check: ${result.message}`;
    } finally {
        state.confirming = null;
    }
}

function askCancel() {
    if (!state.updating) return;
    $("cancel-question").textContent = state.texts.cancelQuestion;
    $("cancel-dialog").showModal();
}

// The page and its engine kept for use without a network; a new version of the site replaces
// the kept one on the next visit, which the page says.
function keepForOffline() {
    if (!("serviceWorker" in navigator)) return;
    const hadController = Boolean(navigator.serviceWorker.controller);
    navigator.serviceWorker.addEventListener("controllerchange", () => {
        if (hadController)
            $("version-note").textContent = "A new version of this page has been installed; " +
                                            "reload the page to use it.";
    });
    navigator.serviceWorker.register("sw.js").catch(() => {});
}

async function start() {
    keepForOffline();
    if (!("serial" in navigator)) {
        problem("<p>This browser cannot reach serial ports: the page needs Web Serial, which " +
                "Chrome, Edge and Opera have on computers, and Firefox and Safari do not. Open " +
                "the page in one of those, or use the Orvane Update Utility for Windows or the " +
                "orvane-update console program for Linux.</p>");
        status("This browser cannot update equipment.");
        $("connect").disabled = true;
        return;
    }
    if (!window.isSecureContext) {
        problem("<p>The browser lets only pages served over https (or from this computer) " +
                "reach serial ports: open the page at its https address.</p>");
        $("connect").disabled = true;
        return;
    }
    state.engine = await OrvaneEngine();
    state.engine.orvanePorts = new Map();
    state.engine.orvaneFiles = new Map();
    state.texts = await engineCall("orvane_texts", [], []);
    await loadCatalog();
    $("cancel-dialog").querySelector("h2").textContent = state.texts.cancelCaption;

    $("connect").addEventListener("click", async () => {
        try {
            await addPort(await navigator.serial.requestPort({filters: [{usbVendorId: 0x10C4}]}));
        } catch (error) {
            if (error.name !== "NotFoundError") status(String(error));
        }
    });
    $("file").addEventListener("change", () => chooseFile($("file").files[0]));
    const drop = $("drop");
    for (const name of ["dragenter", "dragover"])
        document.addEventListener(name, (event) => { event.preventDefault();
                                                     drop.classList.add("over"); });
    document.addEventListener("dragleave", () => drop.classList.remove("over"));
    document.addEventListener("drop", (event) => {
        event.preventDefault();
        drop.classList.remove("over");
        chooseFile(event.dataTransfer.files[0]);
    });
    $("update").addEventListener("click", update);
    $("use-catalog").addEventListener("click", useCatalogFile);
    $("recover").addEventListener("change", render);
    $("cancel").addEventListener("click", askCancel);
    $("cancel-yes").addEventListener("click", () => {
        state.engine.orvaneCancelRequested = true;
        $("cancel-dialog").close();
    });
    $("cancel-no").addEventListener("click", () => $("cancel-dialog").close());
    navigator.serial.addEventListener("connect", (event) => addPort(event.target));
    navigator.serial.addEventListener("disconnect", (event) => removePort(event.target));

    render();
    const granted = await navigator.serial.getPorts();
    await Promise.all(granted.map(addPort));
    await refreshOffer();
    document.body.dataset.ready = "true";
}

start();
