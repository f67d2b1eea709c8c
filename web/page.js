// The page: takes a picture, hands it to the converters' worker, and shows
// the picture, the screen and the loss map side by side, the symbol pointed
// at, and the downloads. The worker does all the converting, so the page
// keeps answering while a large picture converts.
//
// Tests drive it through #picture, #perceptual, #dither, #download-scn/-asm/-png,
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
var choice = 0;     // counts the pictures chosen: a decode of one since replaced is dropped
var wanted = null;  // a download clicked before it was ready: it follows once it is
// Times of the last conversion, in ms from when it was asked for; the tests read them.
window.vorneTimings = {};

// Ends the workers of `roles` (both where none are named), whatever they are
// doing, and starts fresh ones: a worker's memory goes back to the system only
// with the worker.
var workerUrl = null;
function startWorkers(roles) {
  roles = roles || ["view", "files"];
  // From file:// Chromium refuses a worker script loaded from a file, so the
  // workers are started from the text of a function that worker.js defines.
  workerUrl = workerUrl || URL.createObjectURL(new Blob(["(" + vorneWorker.toString() + ")()"], {type: "text/javascript"}));
  var url = workerUrl;
  roles.forEach(function (role) {
    if (workers[role]) workers[role].terminate();
    var w = new Worker(url);
    w.onmessage = onReply;
    w.onerror = function (e) {
      e.preventDefault();
      onReply({data: {id: jobId, role: role, step: "failed", fatal: true, message: "the converters stopped: " + (e.message || "unknown error")}});
    };
    workers[role] = w;
  });
  // A new view worker gets the canvases with its first picture; the old
  // worker's last frames stay on them until then.
  if (roles.indexOf("view") >= 0) canvasesHanded = false;
}

// The view worker draws the picture and the screen straight into the
// page's canvases. A canvas is handed over once: new canvases (blank) take
// the place of the old ones, and go to the view worker as it converts next.
var canvasesHanded = false;
function newCanvases() {
  var handed = {};
  ["picture", "screen"].forEach(function (name) {
    var old = $("view-" + name), c = old.cloneNode(false);
    old.replaceWith(c);
    c.addEventListener("mousemove", function (e) { pointAt(c, e); });
    handed[name] = c;
  });
  $("view-screen").addEventListener("keydown", moveCursor);
  $("view-screen").addEventListener("focus", function () {
    if (shown && !cursor) moveCursor({key: "ArrowRight", preventDefault: function () {}});
  });
  canvasesHanded = false;
  return handed;
}
function handCanvases() {
  var c = newCanvases(), handed = {picture: c.picture.transferControlToOffscreen(), screen: c.screen.transferControlToOffscreen()};
  workers.view.postMessage({canvases: handed}, [handed.picture, handed.screen]);
  canvasesHanded = true;
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

// The browser decodes a picture whole, four bytes a pixel, before the page
// sees any of it, and a 43-byte GIF may claim a 20000x20000 screen: 1.6 GB.
// So the page reads the size from the file's own header first and refuses
// a picture beyond these limits before anything is decoded. (BMP and PNG go
// to the converters undecoded, within the module's 2 GiB.)
var DECODE_LIMIT = {side: 16384, pixels: 8192 * 8192};

// {format, width, height} of a GIF, JPEG or WebP as its header gives them
// (0 by 0 where the bytes end before the size), or null for other files.
function decodedSize(b) {
  var ascii = function (i, n) { return String.fromCharCode.apply(null, b.subarray(i, i + n)); };
  var u16le = function (i) { return i + 2 <= b.length ? b[i] | b[i + 1] << 8 : 0; };
  var u16be = function (i) { return i + 2 <= b.length ? b[i] << 8 | b[i + 1] : 0; };
  var u24le = function (i) { return i + 3 <= b.length ? b[i] | b[i + 1] << 8 | b[i + 2] << 16 : -1; };
  var size = {width: 0, height: 0};
  if (ascii(0, 6) === "GIF87a" || ascii(0, 6) === "GIF89a") {
    // The logical screen's size, then the blocks up to the first image, whose
    // place and size may reach beyond the screen: decoders grow the picture
    // to hold it, so the larger of the two counts.
    size.format = "GIF";
    if (b.length < 13) return size;
    var w = u16le(6), h = u16le(8), i = 13;
    if (b[10] & 0x80) i += 3 << ((b[10] & 7) + 1); // the global colour table
    while (i < b.length) {
      if (b[i] === 0x2c) { // an image descriptor: left, top, width, height
        if (i + 9 > b.length) break;
        size.width = Math.max(w, u16le(i + 1) + u16le(i + 5));
        size.height = Math.max(h, u16le(i + 3) + u16le(i + 7));
        return size;
      }
      if (b[i] !== 0x21) break; // not an extension: no image follows
      for (i += 2; i < b.length && b[i] !== 0; i += b[i] + 1); // its sub-blocks
      i++;
    }
    return size;
  }
  if (b[0] === 0xff && b[1] === 0xd8) {
    // The markers up to the frame header (SOF0 to SOF15 but DHT, JPG and DAC):
    // its height, then its width, big-endian.
    size.format = "JPEG";
    for (var j = 2; j + 4 <= b.length && b[j] === 0xff;) {
      var m = b[j + 1];
      if (m === 0xff) { j++; continue; } // fill bytes
      if (m >= 0xc0 && m <= 0xcf && m !== 0xc4 && m !== 0xc8 && m !== 0xcc) {
        if (j + 9 <= b.length) {
          size.height = u16be(j + 5);
          size.width = u16be(j + 7);
        }
        return size;
      }
      j += m === 0x01 || (m >= 0xd0 && m <= 0xd8) ? 2 : 2 + u16be(j + 2);
    }
    return size;
  }
  if (ascii(0, 4) === "RIFF" && ascii(8, 4) === "WEBP") {
    // The first chunk: the extended header's canvas, a lossless or a lossy frame.
    size.format = "WebP";
    var chunk = ascii(12, 4);
    if (chunk === "VP8X" && b.length >= 30) {
      size.width = u24le(24) + 1;
      size.height = u24le(27) + 1;
    } else if (chunk === "VP8L" && b.length >= 25 && b[20] === 0x2f) {
      var bits = (b[21] | b[22] << 8 | b[23] << 16 | b[24] << 24) >>> 0;
      size.width = (bits & 0x3fff) + 1;
      size.height = ((bits >>> 14) & 0x3fff) + 1;
    } else if (chunk === "VP8 " && b.length >= 30) {
      size.width = u16le(26) & 0x3fff;
      size.height = u16le(28) & 0x3fff;
    }
    return size;
  }
  return null;
}

function tooLargeToDecode(width, height) {
  return width > DECODE_LIMIT.side || height > DECODE_LIMIT.side || width * height > DECODE_LIMIT.pixels;
}

// The views and the symbol of the picture before go.
function clearViews() {
  shown = null;
  newCanvases();
  var loss = $("view-loss");
  loss.getContext("2d").clearRect(0, 0, loss.width, loss.height);
  describeSymbol();
  placeCursor();
}

// A picture the page refuses before converting: a conversion under way is
// dropped, the views are emptied and nothing is offered.
function refuse(message) {
  if (pending && (pending.view || pending.files)) startWorkers();
  current = null;
  pending = null;
  wanted = null;
  clearDownloads();
  clearViews();
  fail(message);
}

// BMP and PNG go to the converters as they are; GIF, JPEG and WebP the
// browser decodes, once their size is known to fit, and the converters get
// their 24-bit pixels. Anything else goes to the converters too, which say
// what it is not.
function takeFile(file) {
  if (!file) return;
  var asked = performance.now(), mine = ++choice;
  var base = file.name.replace(/\.[^.]*$/, "") || "picture";
  $("picture-name").textContent = file.name;
  wanted = null;
  setState("busy", "Reading " + file.name);
  var asBytes = function () {
    $("note").hidden = true;
    current = {base: base, bytes: file, name: file.name, key: mine};
    convert(asked);
  };
  var tooLarge = function (format, width, height) {
    refuse(file.name + ": the picture is " + width + "x" + height + ", more than this page decodes: a " + format +
      " picture may have at most " + DECODE_LIMIT.side + " pixels a side and " + DECODE_LIMIT.pixels + " in all");
  };
  // The header, and for a GIF or JPEG the blocks before the size: 4 MiB
  // holds them in any picture but a contrived one, which then goes undecoded.
  file.slice(0, 4 << 20).arrayBuffer().then(function (buffer) {
    if (mine !== choice) return;
    var size = decodedSize(new Uint8Array(buffer));
    if (!size || !size.width || !size.height) return asBytes();
    if (tooLargeToDecode(size.width, size.height)) return tooLarge(size.format, size.width, size.height);
    return createImageBitmap(file).then(function (bitmap) {
      if (mine !== choice) return bitmap.close();
      // A decoder that made it larger than its header said still meets the limit.
      if (tooLargeToDecode(bitmap.width, bitmap.height)) {
        bitmap.close();
        return tooLarge(size.format, bitmap.width, bitmap.height);
      }
      var c = document.createElement("canvas");
      c.width = bitmap.width;
      c.height = bitmap.height;
      var g = c.getContext("2d");
      g.fillStyle = "#000";
      g.fillRect(0, 0, c.width, c.height);
      g.drawImage(bitmap, 0, 0);
      bitmap.close();
      var pixels = new Blob([g.getImageData(0, 0, c.width, c.height).data]);
      current = {base: base, name: file.name, pixels: pixels, width: c.width, height: c.height, key: mine};
      c.width = c.height = 0; // its pixels are in the Blob now
      $("note").textContent = file.name + " was decoded by this browser and handed to the converters as " +
        "24-bit pixels (transparent parts on black); another decoder may give slightly different pixels, " +
        "so for files to keep, convert a BMP or PNG.";
      $("note").hidden = false;
      convert(asked);
    }, function () {
      // Not a picture the browser can decode: the converters say what it is not.
      if (mine === choice) asBytes();
    });
  }, function () {
    if (mine === choice) refuse(file.name + ": the file could not be read");
  });
}

// A module's memory grows and never shrinks, and what a worker let go of
// waits for its garbage collector: memory goes back to the system for sure
// only with the worker. So a worker whose conversion held more than this
// (the module, the picture and the outputs) is replaced once its part is
// done; the views and downloads it made are the page's, and stay.
var HELD_MEMORY = 96 << 20;

// A conversion under way that is cheap to let finish: one whose screen has
// at most this many pixels, from a picture of at most this many bytes. A
// newer one then waits in the workers for it (they drop it at its next
// pause), which is sooner than a fresh worker is ready: starting one and its
// module takes longer than converting 256x192. Larger ones are cut short by
// ending their workers.
var CHEAP = {pixels: 640 * 512, bytes: 64 << 20};
function cheapToFinish() {
  var size = /^(\d+)x(\d+)$/.exec(fitSize());
  // Without a screen size, the size of this picture's last view, if any.
  var pixels = size ? size[1] * size[2] : shown && shown.of === current ? shown.width * shown.height : Infinity;
  var bytes = current.bytes ? current.bytes.size : current.pixels.size;
  return pixels <= CHEAP.pixels && bytes <= CHEAP.bytes;
}

// The dither chosen: "", "ordered" or "best" (the full search, --dither);
// "ordered" in its stead where this build's programs have no full search.
var noBest = false;
function ditherMode() {
  var d = $("dither").value;
  return d === "best" && noBest ? "ordered" : d;
}
var DITHER_OPTIONS = {"": [], ordered: ["--dither=ordered"], best: ["--dither"]};
var NO_BEST = "These programs have no full search (--dither) yet: shown and offered with --dither=ordered.";

// Converts the current picture with the page's settings. While a slider
// moves, how.preview: only the view, with --dither=ordered for the full
// search, so that the files worker takes no processor time from it; once
// the slider rests, how.filesOnly: the downloads of the view shown (or, for
// the full search, a whole conversion).
function convert(asked, how) {
  if (!current) return;
  var preview = Boolean(how && how.preview), filesOnly = Boolean(how && how.filesOnly);
  // A conversion under way is dropped: where it is cheap to let finish, the
  // workers drop it themselves; otherwise they are ended, and fresh ones
  // take this one at once.
  if (pending && (pending.view || pending.files) && !pending.cheap) startWorkers();
  if (!canvasesHanded) handCanvases();
  var job = {
    id: ++jobId,
    role: "view",
    perceptual: $("perceptual").checked,
    dither: preview && ditherMode() === "best" ? "ordered" : ditherMode(),
    pad: $("pad").checked,
    prefix: $("prefix").value.trim(),
    sprites: $("mode-sprites").checked,
    shape: shapeOptions(),
  };
  showCommand();
  if (!filesOnly) window.vorneTimings = {asked: asked || performance.now()};
  pending = {view: !filesOnly, files: !preview, notes: [], failed: false, cheap: cheapToFinish(), preview: preview,
    dither: job.dither};
  clearDownloads();
  setState("busy", preview ? previewing() : filesOnly ? "Converting: the downloads follow" : "Converting");
  job.bytes = current.bytes;
  job.name = current.name;
  job.key = current.key;
  job.pixels = current.pixels;
  job.width = current.width;
  job.height = current.height;
  (preview ? ["view"] : filesOnly ? ["files"] : ["view", "files"]).forEach(function (role) {
    job.role = role;
    workers[role].postMessage(job);
  });
}
function previewing() {
  return pending.dither !== ditherMode() ?
    "Shown with --dither=ordered while the slider moves; the full search (--dither) follows when it rests" :
    "Shown while the slider moves; the downloads follow when it rests";
}

// --- what the worker sends back ---------------------------------------------------

function onReply(e) {
  var r = e.data;
  if (r.step === "ready") return;
  if (r.id !== jobId || !pending) return; // a picture since replaced
  var t = window.vorneTimings;
  var last = r.step === "failed" || r.step === "picture" || r.step === "downloads";
  if (last) {
    pending[r.role] = false;
    (t.memory = t.memory || {})[r.role] = r.memory;
    if (r.memory > HELD_MEMORY) startWorkers([r.role]);
  }
  if (r.step === "failed") {
    // Both workers meet the same fault: the first to tell it is enough.
    if (pending.failed) return;
    pending.failed = true;
    // Programs without the full search refuse --dither: the page says so
    // and converts with --dither=ordered instead.
    if (pending.dither === "best" && /--dither\b(?!=)/.test(r.message)) {
      noBest = true;
      pending.view = pending.files = false;
      return convert(t.asked);
    }
    t.failed = performance.now() - t.asked;
    wanted = null;
    fail(r.message);
    // A module that ran out of memory keeps its 2 GiB, and one that broke may
    // not work again: fresh ones take the next picture.
    if (r.fatal || r.message === "not enough memory") {
      pending.view = pending.files = false;
      startWorkers();
    }
    cursor = null;
    clearViews();
    return;
  }
  if (pending.failed) return;
  if (r.step === "screen") {
    var painting = performance.now();
    showScreen(r);
    t.view = performance.now() - t.asked;
    t.paint = performance.now() - painting;
    t.workerView = r.ms;
    if (pending.preview) $("status").textContent = previewing();
    else if (pending.files) $("status").textContent = "Converting: the loss map, the picture and the downloads follow";
  } else if (r.step === "loss") {
    showLoss(r.loss);
    t.loss = performance.now() - t.asked;
  } else if (r.step === "picture") {
    if (r.noView) clearViews();
    t.picture = performance.now() - t.asked;
    t.workerView = r.ms;
    pending.view = false;
    pending.notes = pending.notes.concat(r.notes);
  } else if (r.step === "downloads") {
    offer("download-scn", r.scn, current.base + ".scn");
    offer("download-asm", r.asm, current.base + ".asm");
    // Not <name>.png: saved beside the picture, it would replace a PNG chosen.
    offer("download-png", r.png, current.base + "-screen.png");
    t.downloads = performance.now() - t.asked;
    t.workerFiles = r.ms;
    pending.files = false;
    pending.notes = pending.notes.concat(r.notes);
    if (wanted) {
      var id = wanted;
      wanted = null;
      if ($(id).getAttribute("aria-disabled") === "false") $(id).click();
    }
  }
  if (pending.view || pending.files) return;
  // A preview stays busy: the whole conversion follows when the slider rests.
  if (pending.preview) return setState("busy", previewing());
  if (noBest && $("dither").value === "best") pending.notes.push(NO_BEST);
  // "failed" only where nothing came of it; what did not, the notes say.
  var made = ["download-scn", "download-asm", "download-png"].some(function (id) {
    return $(id).getAttribute("aria-disabled") === "false";
  });
  if (!made) return fail(pending.notes.join("\n") || "the conversion failed");
  setState("done", [(shown ? "Done: " + shown.width + "\u00d7" + shown.height + " pixels, " +
    (shown.width / 8) * (shown.height / 8) + " symbols. " : "Done. ") + "Downloads ready."].concat(pending.notes).join("\n"));
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
  shown = {width: r.width, height: r.height, attributes: new Uint8Array(r.attributes), loss: null, of: current};
  var loss = $("view-loss");
  loss.width = r.width >> 3;
  loss.height = r.height >> 3;
  loss.getContext("2d").clearRect(0, 0, loss.width, loss.height);
  // The symbol pointed at stays where it was, within the new picture.
  if (cursor) {
    cursor = {col: Math.min(cursor.col, (r.width >> 3) - 1), row: Math.min(cursor.row, (r.height >> 3) - 1)};
  }
  applyZoom();
  describeSymbol();
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
  describeSymbol();
}

// --- zoom, grid, the symbol pointed at ---------------------------------------------

// The zoom: a whole step chosen, or "fit": the largest whole step at which
// the picture fits its pane (its width, and 70 % of the window's height),
// or where even one pixel a pixel is too large, the fraction that fits.
function zoomFactor() {
  var v = $("zoom").value;
  if (v !== "fit") return Number(v);
  if (!shown) return 1;
  var pane = document.querySelector("#views .pane");
  var room = {w: Math.max(64, pane.clientWidth - 8), h: Math.max(64, innerHeight * 0.7 - 8)};
  var fits = Math.min(room.w / shown.width, room.h / shown.height);
  return fits >= 1 ? Math.min(16, Math.floor(fits)) : fits;
}

function applyZoom() {
  if (!shown) return;
  var z = zoomFactor();
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

var symbolHint = $("symbol").innerHTML;

function describeSymbol() {
  var box = $("symbol");
  if (!shown || !cursor) {
    box.innerHTML = symbolHint;
    return;
  }
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
  var z = zoomFactor();
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

// --- the screen's size, the cut and the colours -------------------------------------

// Where the cut lies, fractions from 0 to 1; moved by dragging on the picture.
var fitAt = {x: 0.5, y: 0.5};
var ADJUSTMENTS = [
  {id: "brightness", neutral: 0},
  {id: "contrast", neutral: 0},
  {id: "saturation", neutral: 100},
  {id: "gamma", neutral: 1},
];

// The screen size chosen, "WxH", or "" for the picture's own.
function fitSize() {
  var v = $("fit").value;
  return v === "typed" ? $("fit-typed").value.trim() : v;
}

// The options of the size, the cut and the adjustments, as the command line
// takes them; neutral ones are left out (they change no byte).
function shapeOptions() {
  var o = [], size = fitSize();
  if (size) {
    o.push("--fit", size);
    if ($("letterbox").checked) o.push("--letterbox");
    if (fitAt.x !== 0.5 || fitAt.y !== 0.5) o.push("--fit-at", fitAt.x + "," + fitAt.y);
  }
  ADJUSTMENTS.forEach(function (a) {
    var v = Number($(a.id).value);
    if (v !== a.neutral) o.push("--" + a.id, String(Math.round(v * 1000) / 1000));
  });
  return o;
}

// A word as a POSIX shell takes it back.
function shellWord(w) {
  return /^[A-Za-z0-9_.,:\/=+-]+$/.test(w) ? w : "'" + w.replace(/'/g, "'\\''") + "'";
}

// The command line that writes the screen file the page offers: the
// picture by the name it was chosen by; one the browser decoded (JPEG,
// GIF, WebP) comes through ImageMagick, as the manual pages say.
function commandLine() {
  var name = current ? current.name : "PICTURE", base = current ? current.base : "SCREEN";
  var opts = [].concat($("perceptual").checked ? ["--perceptual"] : [], DITHER_OPTIONS[ditherMode()],
                       $("pad").checked ? ["--pad"] : [], shapeOptions());
  var words = ["encscreen"].concat(opts);
  if (current && current.pixels)
    return ["convert", name, "-type", "truecolor", "bmp:-"].map(shellWord).join(" ") + " | " +
      words.concat(["-", base + ".scn"]).map(shellWord).join(" ");
  return words.concat([name, base + ".scn"]).map(shellWord).join(" ");
}
function showCommand() { $("command").textContent = commandLine(); }

// The settings kept between visits.
var SETTINGS = "vorne-screen-settings";
function saveSettings() {
  var s = {fit: $("fit").value, typed: $("fit-typed").value, letterbox: $("letterbox").checked, at: fitAt};
  ADJUSTMENTS.forEach(function (a) { s[a.id] = $(a.id).value; });
  try { localStorage.setItem(SETTINGS, JSON.stringify(s)); } catch (e) { /* storage refused: kept for this visit */ }
}
function loadSettings() {
  var s = null;
  try { s = JSON.parse(localStorage.getItem(SETTINGS) || "null"); } catch (e) { s = null; }
  if (!s) return;
  if (typeof s.fit === "string") $("fit").value = s.fit;
  if (typeof s.typed === "string") $("fit-typed").value = s.typed;
  $("letterbox").checked = Boolean(s.letterbox);
  if (s.at && typeof s.at.x === "number" && typeof s.at.y === "number") fitAt = {x: s.at.x, y: s.at.y};
  ADJUSTMENTS.forEach(function (a) {
    if (s[a.id] !== undefined) $(a.id).value = s[a.id];
    $(a.id + "-shown").textContent = $(a.id).value;
  });
}
// A slider's move converts the view at once, with --dither=ordered where the
// full search is chosen (it may take seconds); the downloads (and the full
// search) follow once the slider has rested this long.
var REST_MS = 300, restTimer = 0;
function rested() {
  var shownAlready = pending && pending.preview && !pending.view && !pending.failed && pending.dither === ditherMode();
  convert(undefined, shownAlready ? {filesOnly: true} : undefined);
}
function shapeChanged(e) {
  ADJUSTMENTS.forEach(function (a) { $(a.id + "-shown").textContent = $(a.id).value; });
  saveSettings();
  showCommand();
  clearTimeout(restTimer);
  if (e && e.type === "input") {
    convert(undefined, {preview: true});
    restTimer = setTimeout(rested, REST_MS);
  } else {
    convert();
  }
}
["fit", "letterbox"].forEach(function (id) { $(id).addEventListener("change", shapeChanged); });
$("fit-typed").addEventListener("change", function () {
  $("fit").value = "typed";
  shapeChanged();
});
// A slider converts as it moves: each move drops the conversion under way.
ADJUSTMENTS.forEach(function (a) { $(a.id).addEventListener("input", shapeChanged); });
$("reset-shape").addEventListener("click", function () {
  ADJUSTMENTS.forEach(function (a) { $(a.id).value = a.neutral; });
  fitAt = {x: 0.5, y: 0.5};
  shapeChanged();
});
$("copy-command").addEventListener("click", function () {
  var text = commandLine();
  if (navigator.clipboard) navigator.clipboard.writeText(text).catch(function () {});
});
// Dragging on the picture moves the cut with the pointer: the picture's
// part under it follows it. Converted as the pointer is let go.
(function () {
  var pane = document.querySelector("#views figure .pane"), from = null;
  pane.addEventListener("pointerdown", function (e) {
    if (!fitSize() || !shown) return;
    from = {x: e.clientX, y: e.clientY, at: {x: fitAt.x, y: fitAt.y}};
    pane.setPointerCapture(e.pointerId);
    e.preventDefault();
  });
  pane.addEventListener("pointermove", function (e) {
    if (!from) return;
    var c = pane.querySelector("canvas"), w = c.clientWidth || 1, h = c.clientHeight || 1;
    var clamp = function (v) { return Math.round(Math.min(1, Math.max(0, v)) * 1000) / 1000; };
    fitAt = {x: clamp(from.at.x - (e.clientX - from.x) / w), y: clamp(from.at.y - (e.clientY - from.y) / h)};
    showCommand();
  });
  var end = function () {
    if (!from) return;
    from = null;
    shapeChanged();
  };
  pane.addEventListener("pointerup", end);
  pane.addEventListener("pointercancel", end);
})();
["perceptual", "dither", "pad"].forEach(function (id) { $(id).addEventListener("change", showCommand); });
loadSettings();
showCommand();

startWorkers();
handCanvases();
$("view-loss").addEventListener("mousemove", function (e) { pointAt($("view-loss"), e); });
$("picture").addEventListener("change", function () {
  takeFile(this.files[0]);
  // The same file chosen again fires no change event unless the input is emptied.
  this.value = "";
});
["perceptual", "dither", "pad", "mode-screen", "mode-sprites"].forEach(function (id) {
  $(id).addEventListener("change", function () {
    clearTimeout(restTimer);
    convert();
  });
});
$("prefix").addEventListener("change", function () { convert(); });
// A click on a download that is not ready (the prefix typed just before
// converts again as the click takes the focus) is kept until it is.
["download-scn", "download-asm", "download-png"].forEach(function (id) {
  $(id).addEventListener("click", function (e) {
    if (this.getAttribute("aria-disabled") === "false") return;
    e.preventDefault();
    if (pending && pending.files) wanted = id;
  });
});
$("zoom").addEventListener("change", applyZoom);
addEventListener("resize", function () { if ($("zoom").value === "fit") applyZoom(); });
// Before and after in one pane: the screen over the picture, cut away left
// of a line dragged across them; both at the same zoom and scrolled together.
$("split").addEventListener("change", function () {
  $("views").classList.toggle("split", this.checked);
  $("split-line").hidden = !this.checked;
  applyZoom();
});
(function () {
  var line = $("split-line"), dragging = false;
  line.addEventListener("pointerdown", function (e) {
    dragging = true;
    line.setPointerCapture(e.pointerId);
    e.preventDefault();
    e.stopPropagation();
  });
  line.addEventListener("pointermove", function (e) {
    if (!dragging) return;
    var r = document.querySelector("#views figure").getBoundingClientRect();
    var at = Math.min(100, Math.max(0, (e.clientX - r.left) / r.width * 100));
    $("views").style.setProperty("--split", at.toFixed(1) + "%");
  });
  var end = function () { dragging = false; };
  line.addEventListener("pointerup", end);
  line.addEventListener("pointercancel", end);
})();
$("grid").addEventListener("change", function () { document.body.classList.toggle("show-grid", this.checked); });
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
