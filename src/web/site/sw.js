// Keeps the page and its engine for use without a network: every file of the site is cached at
// install under the site's version (build-web.sh writes it below, from the files' checksum), and
// answered from that cache first. A new version is installed beside the old one on the next
// visit, takes over at once and removes the old cache; the page then says so.
const VERSION = "@VERSION@";
const FILES = ["./", "index.html", "style.css", "app.js", "orvane-engine.js", "orvane-engine.wasm",
               "manifest.webmanifest", "icon-192.png", "icon-256.png"];

self.addEventListener("install", (event) => {
    event.waitUntil(caches.open(VERSION).then((cache) => cache.addAll(FILES))
                        .then(() => self.skipWaiting()));
});

self.addEventListener("activate", (event) => {
    event.waitUntil(caches.keys()
                        .then((names) => Promise.all(names.filter((name) => name !== VERSION)
                                                         .map((name) => caches.delete(name))))
                        .then(() => self.clients.claim()));
});

self.addEventListener("fetch", (event) => {
    if (event.request.method !== "GET") return;
    event.respondWith(caches.open(VERSION).then((cache) => cache.match(event.request, {
        ignoreSearch: true}).then((cached) => cached || fetch(event.request))));
});
