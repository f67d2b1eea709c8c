// The page: takes a picture, hands it to the converters' worker, and shows
// the picture, the screen and the loss map side by side, the symbol pointed
// at, and the downloads. The worker does all the converting, so the page
// keeps answering while a large picture converts.
//
// Tests drive it through #picture, #perceptual, #download-scn/-asm/-png,
// #status and document.body.dataset.state (busy, then done or failed).
"use strict";

var $ = function (id) { return document.getElementById(id); };
// Two workers, one for each core: "view" makes the screen, the picture and
// the loss map; "files" makes the downloads.
var workers = {};
var jobId = 0;
// The picture, kept to convert again when a choice changes: a Blob of its
// bytes, or of the browser's pixels. A Blob goes to a worker as a handle,
// so the page's thread never copies a large picture.
var current = null;
var shown = null;   // {width, height, attributes, loss} of the view on screen
var urls = [];
var pending = null; // {view, files, notes, failed} of the conversion under way
// Times of the last conversion, in ms from when it was asked for; the tests read them.
window.vorneTimings = {};

function startWorkers() {
  // From file:// Chromium refuses a worker script loaded from a file, so the
  // workers are started from the text of a function that worker.js defines.
  var url = URL.createObjectURL(new Blob(["(" + vorneWorker.toString() + ")()"], {type: "text/javascript"}));
  ["view", "files"].forEach(function (role) {
    if (workers[role]) workers[role].terminate();
    var w = new Worker(url);
    w.onmessage = onReply;
    w.onerror = function (e) {
      e.preventDefault();
      onReply({data: {id: jobId, step: "failed", fatal: true, message: "the converters stopped: " + (e.message || "unknown error")}});
    };
    workers[role] = w;
  });
  // The view worker draws the picture and the screen straight into the
  // page's canvases. A canvas is handed over once, so a new worker gets new ones.
  var handed = {};
  ["picture", "screen"].forEach(function (name) {
    var old = $("view-" + name), c = old.cloneNode(false);
    old.replaceWith(c);
    c.addEventListener("mousemove", function (e) { pointAt(c, e); });
    handed[name] = c.transferControlToOffscreen();
  });
  $("view-screen").addEventListener("keydown", moveCursor);
  $("view-screen").addEventListener("focus", function () {
    if (shown && !cursor) moveCursor({key: "ArrowRight", preventDefault: function () {}});
  });
  workers.view.postMessage({canvases: handed}, [handed.picture, handed.screen]);
  applyZoom();
}

function setState(state, message) {
  document.body.dataset.state = state;
  if (message !== undefined) $("status").textContent = message;
}

function fail(message) {
  setState("failed", message);
}

// --- choosing a picture ---------------------------------------------------------

function isBmpOrPng(b) {
  return (b[0] === 0x42 && b[1] === 0x4d) || (b[0] === 0x89 && b[1] === 0x50 && b[2] === 0x4e && b[3] === 0x47);
}

// BMP and PNG go to the converters as they are; other pictures the browser
// decodes, and the converters get their 24-bit pixels.
function takeFile(file) {
  if (!file) return;
  var asked = performance.now();
  setState("busy", "Reading " + file.name);
  file.slice(0, 4).arrayBuffer().then(function (buffer) {
    var bytes = new Uint8Array(buffer);
    var base = file.name.replace(/\.[^.]*$/, "") || "picture";
    if (bytes.length < 4 || isBmpOrPng(bytes)) {
      $("note").hidden = true;
      current = {base: base, bytes: file, name: file.name};
      return convert(asked);
    }
    return createImageBitmap(file).then(function (bitmap) {
      var c = document.createElement("canvas");
      c.width = bitmap.width;
      c.height = bitmap.height;
      var g = c.getContext("2d");
      g.fillStyle = "#000";
      g.fillRect(0, 0, c.width, c.height);
      g.drawImage(bitmap, 0, 0);
      var pixels = new Blob([g.getImageData(0, 0, c.width, c.height).data]);
      current = {base: base, pixels: pixels, width: c.width, height: c.height};
      $("note").textContent = file.name + " was decoded by this browser and handed to the converters as " +
        "24-bit pixels (transparent parts on black); another decoder may give slightly different pixels, " +
        "so for files to keep, convert a BMP or PNG.";
      $("note").hidden = false;
      convert(asked);
    }, function () {
      // Not a picture the browser knows either: the converters say what it is not.
      $("note").hidden = true;
      current = {base: base, bytes: file, name: file.name};
      convert(asked);
    });
  }, function () {
    fail("the file could not be read");
  });
}

function convert(asked) {
  if (!current) return;
  var job = {
    id: ++jobId,
    role: "view",
    perceptual: $("perceptual").checked,
    pad: $("pad").checked,
    prefix: $("prefix").value.trim(),
    sprites: $("mode-sprites").checked,
  };
  window.vorneTimings = {asked: asked || performance.now()};
  pending = {view: true, files: true, notes: [], failed: false};
  clearDownloads();
  setState("busy", "Converting");
  job.bytes = current.bytes;
  job.name = current.name || "picture";
  job.pixels = current.pixels;
  job.width = current.width;
  job.height = current.height;
  ["view", "files"].forEach(function (role) {
    job.role = role;
    workers[role].postMessage(job);
  });
}

// --- what the worker sends back ---------------------------------------------------

function onReply(e) {
  var r = e.data;
  if (r.step === "ready") return;
  if (r.id !== jobId || !pending) return; // a picture since replaced
  var t = window.vorneTimings;
  if (r.step === "failed") {
    // Both workers meet the same fault: the first to tell it is enough.
    if (pending.failed) return;
    pending.failed = true;
    t.failed = performance.now() - t.asked;
    fail(r.message);
    // A module that ran out of memory keeps its 2 GiB, and one that broke may
    // not work again: fresh ones take the next picture.
    if (r.fatal || r.message === "not enough memory") startWorkers();
    shown = null;
    cursor = null;
    $("view-loss").getContext("2d").clearRect(0, 0, $("view-loss").width, $("view-loss").height);
    placeCursor();
    return;
  }
  if (pending.failed) return;
  if (r.step === "screen") {
    var painting = performance.now();
    showScreen(r);
    t.view = performance.now() - t.asked;
    t.paint = performance.now() - painting;
    t.workerView = r.ms;
    if (pending.files) $("status").textContent = "Converting: the loss map, the picture and the downloads follow";
  } else if (r.step === "loss") {
    showLoss(r.loss);
    t.loss = performance.now() - t.asked;
  } else if (r.step === "picture") {
    t.picture = performance.now() - t.asked;
    t.workerView = r.ms;
    pending.view = false;
    pending.notes = pending.notes.concat(r.notes);
  } else if (r.step === "downloads") {
    offer("download-scn", r.scn, current.base + ".scn");
    offer("download-asm", r.asm, current.base + ".asm");
    offer("download-png", r.png, current.base + ".png");
    t.downloads = performance.now() - t.asked;
    t.workerFiles = r.ms;
    pending.files = false;
    pending.notes = pending.notes.concat(r.notes);
  }
  if (pending.view || pending.files) return;
  if (pending.notes.length) {
    fail(pending.notes.join("\n"));
  } else {
    setState("done", "Done: " + shown.width + "\u00d7" + shown.height + " pixels, " +
      (shown.width / 8) * (shown.height / 8) + " symbols. Downloads ready.");
  }
}

function clearDownloads() {
  urls.forEach(URL.revokeObjectURL);
  urls = [];
  ["download-scn", "download-asm", "download-png"].forEach(function (id) {
    var a = $(id);
    a.removeAttribute("href");
    a.setAttribute("aria-disabled", "true");
  });
}

function offer(id, blob, name) {
  if (!blob) return;
  var url = URL.createObjectURL(blob);
  urls.push(url);
  var a = $(id);
  a.href = url;
  a.download = name;
  a.setAttribute("aria-disabled", "false");
}

function showScreen(r) {
  shown = {width: r.width, height: r.height, attributes: new Uint8Array(r.attributes), loss: null};
  var loss = $("view-loss");
  loss.width = r.width >> 3;
  loss.height = r.height >> 3;
  loss.getContext("2d").clearRect(0, 0, loss.width, loss.height);
  if (!zoomChosen) $("zoom").value = String(fittingZoom(r.width, r.height));
  applyZoom();
}

// Black through red and yellow to white as the mean CIEDE2000 goes from 0 to 30.
function heat(d) {
  var t = Math.min(d / 30, 1) * 3;
  return [Math.min(t, 1) * 255, Math.min(Math.max(t - 1, 0), 1) * 255, Math.min(Math.max(t - 2, 0), 1) * 255];
}

function showLoss(buffer) {
  if (!buffer || !shown) return;
  shown.loss = new Float32Array(buffer);
  var cols = shown.width >> 3, rows = shown.height >> 3;
  var rgba = new Uint8ClampedArray(4 * cols * rows);
  for (var i = 0; i < cols * rows; i++) {
    var c = heat(shown.loss[i]);
    rgba[4 * i] = c[0];
    rgba[4 * i + 1] = c[1];
    rgba[4 * i + 2] = c[2];
    rgba[4 * i + 3] = 255;
  }
  $("view-loss").getContext("2d").putImageData(new ImageData(rgba, cols, rows), 0, 0);
}

// --- zoom, grid, the symbol pointed at ---------------------------------------------

var zoomChosen = false;

// The largest whole step at which the picture fits its pane's width.
function fittingZoom(width, height) {
  var room = Math.max(160, $("views").clientWidth / 3 - 24);
  var steps = [16, 12, 8, 6, 4, 3, 2, 1];
  for (var i = 0; i < steps.length; i++) if (width * steps[i] <= room && height * steps[i] <= 600) return steps[i];
  return 1;
}

function applyZoom() {
  if (!shown) return;
  var z = Number($("zoom").value);
  var w = shown.width * z, h = shown.height * z;
  document.querySelectorAll("#views canvas").forEach(function (c) {
    c.style.width = w + "px";
    c.style.height = h + "px";
  });
  var line = "rgba(255,255,255,0.35)";
  document.querySelectorAll("#views .symbol-grid").forEach(function (g) {
    g.style.backgroundImage = "linear-gradient(to right, " + line + " 1px, transparent 1px), " +
      "linear-gradient(to bottom, " + line + " 1px, transparent 1px)";
    g.style.backgroundSize = 8 * z + "px " + 8 * z + "px";
  });
  placeCursor();
}

var cursor = null; // {col, row} of the symbol shown below the views

function rgb332(a) {
  // As decscreen draws it: red and green are 3 bits times 36, blue 2 bits times 84.
  return [(a >> 5) * 36, ((a >> 2) & 7) * 36, (a & 3) * 84];
}

function hex2(v) { return (v < 16 ? "0" : "") + v.toString(16).toUpperCase(); }

function describeSymbol() {
  var box = $("symbol");
  if (!shown || !cursor) return;
  var cols = shown.width >> 3, i = cursor.row * cols + cursor.col;
  var html = "<p>Symbol column " + cursor.col + ", row " + cursor.row + " (pixels " + cursor.col * 8 + "\u2013" +
    (cursor.col * 8 + 7) + ", " + cursor.row * 8 + "\u2013" + (cursor.row * 8 + 7) + ")";
  if (shown.loss) html += ": mean CIEDE2000 from the picture " + shown.loss[i].toFixed(1);
  html += "</p><table><tr><th>code</th><th>colour</th><th>RGB332</th><th>as decscreen shows it</th></tr>";
  for (var k = 0; k < 4; k++) {
    var a = shown.attributes[4 * i + k], c = rgb332(a);
    html += "<tr><td>" + k + "</td><td><span class=\"swatch\" style=\"background:rgb(" + c.join(",") +
      ")\"></span></td><td><code>" + hex2(a) + "h</code></td><td><code>rgb(" + c.join(", ") + ")</code></td></tr>";
  }
  box.innerHTML = html + "</table>";
}

function placeCursor() {
  var z = Number($("zoom").value);
  document.querySelectorAll("#views .cursor").forEach(function (el) {
    el.hidden = !cursor;
    if (!cursor) return;
    el.style.left = cursor.col * 8 * z + "px";
    el.style.top = cursor.row * 8 * z + "px";
    el.style.width = el.style.height = 8 * z + "px";
  });
}

function pointAt(canvas, e) {
  if (!shown) return;
  var rect = canvas.getBoundingClientRect();
  var col = Math.floor((e.clientX - rect.left) / rect.width * shown.width / 8);
  var row = Math.floor((e.clientY - rect.top) / rect.height * shown.height / 8);
  if (col < 0 || row < 0 || col >= shown.width >> 3 || row >= shown.height >> 3) return;
  if (cursor && cursor.col === col && cursor.row === row) return;
  cursor = {col: col, row: row};
  placeCursor();
  describeSymbol();
}

function moveCursor(e) {
  if (!shown) return;
  var d = {ArrowLeft: [-1, 0], ArrowRight: [1, 0], ArrowUp: [0, -1], ArrowDown: [0, 1]}[e.key];
  if (!d) return;
  e.preventDefault();
  var c = cursor || {col: 0, row: 0};
  cursor = {
    col: Math.min(Math.max(c.col + (cursor ? d[0] : 0), 0), (shown.width >> 3) - 1),
    row: Math.min(Math.max(c.row + (cursor ? d[1] : 0), 0), (shown.height >> 3) - 1),
  };
  placeCursor();
  describeSymbol();
}

// Scrolling one pane scrolls the others, so the same symbols stay side by side.
function syncScroll(from) {
  document.querySelectorAll("#views .pane").forEach(function (p) {
    if (p === from) return;
    p.scrollLeft = from.scrollLeft;
    p.scrollTop = from.scrollTop;
  });
}

// --- wiring ---------------------------------------------------------------------------

startWorkers();
$("picture").addEventListener("change", function () {
  takeFile(this.files[0]);
  // The same file chosen again fires no change event unless the input is emptied.
  this.value = "";
});
["perceptual", "pad", "mode-screen", "mode-sprites"].forEach(function (id) {
  $(id).addEventListener("change", function () { convert(); });
});
$("prefix").addEventListener("change", function () { convert(); });
$("zoom").addEventListener("change", function () { zoomChosen = true; applyZoom(); });
$("grid").addEventListener("change", function () { document.body.classList.toggle("show-grid", this.checked); });
$("view-loss").addEventListener("mousemove", function (e) { pointAt($("view-loss"), e); });
document.querySelectorAll("#views .pane").forEach(function (p) {
  p.addEventListener("scroll", function () { syncScroll(p); });
});
document.addEventListener("dragover", function (e) {
  e.preventDefault();
  document.body.classList.add("dragging");
});
document.addEventListener("dragleave", function () { document.body.classList.remove("dragging"); });
document.addEventListener("drop", function (e) {
  e.preventDefault();
  document.body.classList.remove("dragging");
  takeFile(e.dataTransfer.files[0]);
});
