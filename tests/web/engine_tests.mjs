// The web engine under node, where a browser adds nothing: the check of a file (header fields,
// verdict, words) against the cases the Windows suite shares, read from their file.
// Arguments: the site's folder, the cases' file.
import {readFileSync} from "node:fs";
import {pathToFileURL} from "node:url";
import {createHash} from "node:crypto";
import {createRequire} from "node:module";

const [site, casesFile] = process.argv.slice(2);
// The module, made for the page, reaches node's own functions as a CommonJS script would.
globalThis.__dirname = site;
globalThis.require = createRequire(import.meta.url);
const {default: OrvaneEngine} = await import(pathToFileURL(`${site}/orvane-engine.js`));
// Under node the module cannot fetch its .wasm from a path: it is handed the bytes.
const engine = await OrvaneEngine({wasmBinary: readFileSync(`${site}/orvane-engine.wasm`)});
engine.orvaneFiles = new Map();

function check(bytes, model, version, allow) {
    engine.orvaneFiles.set("case", bytes);
    const pointer = engine.ccall("orvane_check", "number", ["string", "number", "number", "number"],
                                 ["case", model, version, allow]);
    const result = JSON.parse(engine.UTF8ToString(pointer));
    engine._free(pointer);
    return result;
}

let failed = 0;
const cases = readFileSync(casesFile, "utf8").split("\n").filter((line) => line && !line.startsWith("#"));
for (const line of cases) {
    const [name, idField, versionField, model, version, allow, words] = line.split("\t");
    const bytes = new Uint8Array(4096).fill(0xA5);
    bytes.set(Buffer.from(idField, "latin1"), 257);
    bytes.set(Buffer.from(versionField, "latin1"), 259);
    const result = check(bytes, Number(model), Number(version), Number(allow));
    const expected = words === "-" ? "" : words;
    const ok = result.accepted === (words === "-") && result.message === expected &&
               result.size === bytes.length &&
               result.sha256 === createHash("sha256").update(bytes).digest("hex");
    if (!ok) failed++;
    console.log(`${ok ? "ok  " : "FAIL"} ${name}${ok ? "" : ": " + JSON.stringify(result)}`);
}
// A file too short to have a header is refused in the window's words.
const short = check(new Uint8Array(100), 1, 5, 0);
const shortOk = !short.accepted &&
                short.message === "Source file too short to retrieve header information";
if (!shortOk) failed++;
console.log(`${shortOk ? "ok  " : "FAIL"} a file too short for its header`);
console.log(`${cases.length + 1 - failed} of ${cases.length + 1} passed`);
process.exit(failed ? 1 : 0);
