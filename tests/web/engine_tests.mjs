// The web engine under node, where a browser adds nothing: the check of a file (header fields,
// verdict, words) against the cases the Windows suite shares, read from their file; the
// catalog's choice of a file and the check of a catalog's file against its listing.
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

function call(name, types, args) {
    const pointer = engine.ccall(name, "number", types, args);
    const result = JSON.parse(engine.UTF8ToString(pointer));
    engine._free(pointer);
    return result;
}
const sha = (text) => createHash("sha256").update(text).digest("hex");
let extra = 0;
function report(ok, name, result) {
    extra++;
    if (!ok) failed++;
    console.log(`${ok ? "ok  " : "FAIL"} ${name}${ok ? "" : ": " + JSON.stringify(result)}`);
}

// The catalog's choice: the console's folder rule (newest for the model; two different files of
// one model and version make it ambiguous, two identical ones do not).
for (const [name, files, model, expected] of [
    ["the newest for the model", [["a5", 1, 5, "x"], ["a7", 1, 7, "y"], ["a6", 1, 6, "z"],
                                  ["m9", 2, 9, "w"]], 1, "a7"],
    ["the same bytes twice", [["a7", 1, 7, "y"], ["a7-copy", 1, 7, "y"]], 1, "a7"],
    ["two files of one version", [["a7", 1, 7, "y"], ["a8", 1, 8, "v"], ["a7-b", 1, 7, "u"]], 1,
     "model 1 is ambiguous: a7 and a7-b are both version 007"],
    ["no file for the model", [["m9", 2, 9, "w"]], 1, "the catalog has no file for model 1"]]) {
    engine.ccall("orvane_catalog_clear", null, [], []);
    for (const [file, fileModel, version, text] of files)
        engine.ccall("orvane_catalog_add", null,
                     ["string", "string", "number", "number", "number", "string"],
                     [`https://example.org/${file}.ace`, file, fileModel, version, 4096, sha(text)]);
    const result = call("orvane_catalog_newest", ["number"], [model]);
    report(result.found ? result.name === expected && result.url.endsWith(`/${expected}.ace`)
                        : result.message === expected && result.ambiguous === /ambiguous/.test(expected),
           `catalog: ${name}`, result);
}

// A catalog's file is used only as listed: its size, SHA-256, model and version.
const listed = new Uint8Array(4096).fill(0x5A);
listed.set(Buffer.from("0107", "latin1"), 257);
const listedSha = sha(listed);
for (const [name, size, digest, model, version, words] of [
    ["as listed", 4096, listedSha, 1, 7, ""],
    ["another size", 4000, listedSha, 1, 7, "it has 4096 bytes, not 4000"],
    ["another SHA-256", 4096, sha("other"), 1, 7, `its SHA-256 is ${listedSha}, not ${sha("other")}`],
    ["another version in its header", 4096, listedSha, 1, 8,
     "its header names model 1, version 007, not model 1, version 008"]]) {
    engine.orvaneFiles.set("listed", listed);
    const result = call("orvane_check_listed",
                        ["string", "string", "number", "number", "number", "string"],
                        ["listed", "A.ace", model, version, size, digest]);
    const expected = words && `The file A.ace is not the one the catalog lists: ${words}`;
    report(result.accepted === !words && result.message === expected, `listed: ${name}`, result);
}
console.log(`${cases.length + 1 + extra - failed} of ${cases.length + 1 + extra} passed`);
process.exit(failed ? 1 : 0);
