// The Web Worker: runs the converters on a picture and posts back what the
// page shows, step by step, so that the screen appears before the slower
// loss map and downloads. Concatenated after the module (createVorne) by
// packaging/web.sh.
//
// The page runs two of these side by side, one for each core: the "view"
// worker converts and makes the views, the "files" worker converts and makes
// the downloads.
//
// Messages from the page: {id, role, name, bytes or pixels (Blobs), width?,
// height?, perceptual, dither ("", "ordered" or "best"), pad, prefix, sprites, shape}; shape
// holds the options of --fit and the adjustments, as the command line gives them. Replies
// carry the same id and role, so the page drops those of a picture it has since replaced;
// the last
// of each (picture, downloads, failed) also the memory the conversion held
// in bytes (memory):
//   {id, step: "screen", width, height, attributes}   (drawn into the canvases)
//   {id, step: "loss", loss}
//   {id, step: "picture", notes}   (the last of the view; noView where the
//                                   views are left out)
//   {id, step: "downloads", scn, asm, png, notes}
//   {id, step: "failed", message}
// `notes` are what a program said about a part that failed (an option it does
// not know, say) while the rest went through. Only the newest job waits: one
// that a newer one has overtaken is dropped where it stands, at its next
// pause (after reading the picture's bytes, after showing the screen), and
// says nothing more. The view worker gets
// {canvases: {picture, screen}}, OffscreenCanvases of the page, before its
// first picture and whenever the page has emptied its canvases.

var lines = [];
var ready = createVorne({
  print: function (text) { lines.push(text); },
  printErr: function (text) { lines.push(text); },
});

// What each program's exit status means: encscreen ends with 1 on success,
// as scripts that call it expect; the other two with 0.
var SUCCESS = {encscreen: 1, encsprite: 0, decscreen: 0};

function run(M, args, name) {
  lines = [];
  var status = M.ccall("vorne_run", "number", ["string"], [args.join("\n")]);
  // The usage message rings the terminal's bell: no use on a page. A
  // diagnostic names the picture by the name it was chosen by, not by where
  // it lies in the page's memory.
  var said = lines.join("\n").replace(/[\x00-\x09\x0b-\x1f]/g, "").split("/work/picture").join(name || "picture").trim();
  return {ok: status === SUCCESS[args[0]], said: said};
}

function readFile(M, path) {
  try {
    return M.FS.readFile(path);
  } catch (e) {
    return null;
  }
}

// What a conversion holds: the module's memory, which only grows, and the
// files of the memory file system (JavaScript arrays outside it), the
// picture and the outputs.
function memoryUsed(M) {
  var bytes = M.HEAPU8.length;
  M.FS.readdir("/work").forEach(function (f) {
    var node = f !== "." && f !== ".." && M.FS.lookupPath("/work/" + f).node;
    if (node && node.contents) bytes += node.contents.length;
  });
  return bytes;
}

// The picture's file is kept for the next job where it is small and the
// page converts the same picture again (a slider moved): its bytes need not
// be read from the Blob and written again. `kept` is its key.
var KEEP_BYTES = 16 << 20, kept = null;
function removeFiles(M, keepPicture) {
  M.FS.readdir("/work").forEach(function (f) {
    if (f !== "." && f !== ".." && !(keepPicture && f === "picture")) M.FS.unlink("/work/" + f);
  });
  if (!keepPicture) kept = null;
}

// Pixels the browser decoded (JPEG, GIF, WebP) as a 24-bit top-down BMP:
// the converters then read them as they read any BMP.
function bmpOfPixels(rgba, width, height) {
  var size = 54 + 3 * width * height + (width % 4) * height;
  var b = new Uint8Array(size);
  var v = new DataView(b.buffer);
  b[0] = 0x42;
  b[1] = 0x4d;
  v.setUint32(2, size, true);
  v.setUint32(10, 54, true);
  v.setUint32(14, 40, true);
  v.setInt32(18, width, true);
  v.setInt32(22, -height, true);
  v.setUint16(26, 1, true);
  v.setUint16(28, 24, true);
  var o = 54;
  for (var y = 0; y < height; y++) {
    for (var x = 0, i = 4 * width * y; x < width; x++, i += 4) {
      b[o++] = rgba[i + 2];
      b[o++] = rgba[i + 1];
      b[o++] = rgba[i];
    }
    o += width % 4;
  }
  return b;
}

// The page's picture and screen canvases, handed over to this worker: it
// draws into them itself, so no picture is copied or painted on the page's
// own thread, which stays free to answer. (Their last frame stays on the
// page when the worker ends, so the page may end it after a conversion.)
var canvases = null;

// Draws pixels of the module's memory into a canvas of that size; none clears it.
function draw(canvas, M, ptr, w, h) {
  canvas.width = ptr ? w : 1;
  canvas.height = ptr ? h : 1;
  if (ptr) canvas.getContext("2d").putImageData(new ImageData(new Uint8ClampedArray(M.HEAPU8.buffer, ptr, 4 * w * h), w, h), 0, 0);
}

// Lets the canvases show what was drawn before the next step starts.
function commit() {
  return new Promise(function (resolve) { setTimeout(resolve, 0); });
}

async function convert(M, job) {
  var notes = [];
  // How long each step took in the worker, for the tests and the documentation.
  var ms = {}, last = performance.now();
  var lap = function (step) {
    var now = performance.now();
    ms[step] = now - last;
    last = now;
  };
  var fail = function (message) {
    postMessage({id: job.id, role: job.role, step: "failed", message: message || "the conversion failed", notes: notes,
      memory: memoryUsed(M)});
  };
  // Jobs posted meanwhile arrive first: this one may be overtaken already.
  await commit();
  if (overtaken(job)) return;
  M.FS.mkdirTree("/work");
  var same = job.key !== undefined && job.key === kept;
  removeFiles(M, same);
  if (!same) {
    // BMP or PNG as their bytes; the converters tell them apart by content.
    // The file takes the bytes as they are (canOwn), without a copy.
    var data = job.pixels ? bmpOfPixels(new Uint8Array(await job.pixels.arrayBuffer()), job.width, job.height)
      : new Uint8Array(await job.bytes.arrayBuffer());
    if (overtaken(job)) return;
    var stream = M.FS.open("/work/picture", "w");
    M.FS.write(stream, data, 0, data.length, 0, true);
    M.FS.close(stream);
    if (data.length <= KEEP_BYTES) kept = job.key;
    data = null;
  }
  lap("write");
  var dither = {ordered: ["--dither=ordered"], best: ["--dither"]}[job.dither] || [];
  var options = [].concat(job.perceptual ? ["--perceptual"] : [], dither,
                          job.pad ? ["--pad"] : [], job.shape || []);

  // The screen file first: everything else follows from it. The sprites view
  // is the screen file encsprite writes for a name ending in .scn, with the
  // same options as its listing.
  var program = job.role === "view" && job.sprites ? "encsprite" : "encscreen";
  var args = [program].concat(options, ["/work/picture", "/work/screen.scn"]);
  var enc = run(M, args, job.name);
  if (!enc.ok) return fail(enc.said);
  lap(program);
  if (job.role === "view") return showConversion(M, job, notes, ms, lap, fail, args);
  return makeFiles(M, job, notes, ms, lap, options);
}

// The screen as soon as it is there; the loss map, then the picture follow
// (the picture last: it is the one the artist already has).
async function showConversion(M, job, notes, ms, lap, fail, args) {
  var view = M.ccall("vorne_view", "number", ["string"], ["/work/screen.scn"]);
  // A view too large for the module's memory or for a canvas is left out;
  // the files worker makes the downloads all the same.
  var noView = function (why) {
    notes.push(why + "; the downloads are made all the same");
    postMessage({id: job.id, role: job.role, step: "picture", noView: true, notes: notes, ms: ms, memory: memoryUsed(M)});
  };
  if (!view) return noView("not enough memory to show this picture");
  try {
    var error = M.ccall("vorne_view_error", "string", ["number"], [view]);
    if (error === "not enough memory") return noView("not enough memory to show this picture");
    if (error) return fail(error.trim());
    var w = M._vorne_view_width(view), h = M._vorne_view_height(view);
    // Chromium draws no canvas larger than this.
    if (w > 32767 || h > 32767 || w * h > 268435456) return noView("the picture is too large to show");
    var attributes = M.HEAPU8.slice(M._vorne_view_attributes(view), M._vorne_view_attributes(view) + w * h / 16).buffer;
    draw(canvases.screen, M, M._vorne_view_screen(view), w, h);
    draw(canvases.picture, null, 0);
    await commit();
    lap("screen");
    postMessage({id: job.id, role: job.role, step: "screen", width: w, height: h, attributes: attributes, ms: ms}, [attributes]);
    // A slider moved on meanwhile: its newer setting converts next.
    if (overtaken(job)) return;

    // Read through the same options and stages as the conversion (padded,
    // say), so that it lies under the screen.
    var read = M.ccall("vorne_view_read_picture", "number", ["number", "string"], [view, args.join("\n")]);
    if (read === 2) notes.push("not enough memory to show the picture beside the screen");
    lap("read");
    if (!M._vorne_view_loss(view)) notes.push("not enough memory for the loss map");
    var lossPtr = M._vorne_view_loss_map(view);
    var loss = lossPtr ? M.HEAPF32.slice(lossPtr >> 2, (lossPtr >> 2) + w * h / 64).buffer : null;
    lap("loss");
    postMessage({id: job.id, role: job.role, step: "loss", loss: loss}, loss ? [loss] : []);

    draw(canvases.picture, M, M._vorne_view_picture(view), w, h);
    await commit();
    lap("picture");
    postMessage({id: job.id, role: job.role, step: "picture", notes: notes, ms: ms, memory: memoryUsed(M)});
  } finally {
    M._vorne_view_free(view);
    removeFiles(M, kept === job.key);
  }
}

function makeFiles(M, job, notes, ms, lap, options) {
  // The preview PNG and the listing, each as its program writes it.
  var dec = run(M, ["decscreen", "/work/screen.scn", "/work/preview.png"]);
  if (!dec.ok) notes.push(dec.said);
  lap("decscreen");
  var spr = run(M, ["encsprite"].concat(options, job.prefix ? ["--prefix", job.prefix] : [], ["/work/picture", "/work/sprites.asm"]), job.name);
  if (!spr.ok) notes.push(spr.said);
  lap("encsprite");
  // As Blobs, which reach the page as handles, not copies.
  var blob = function (path, type) {
    var bytes = readFile(M, path);
    return bytes && new Blob([bytes], {type: type});
  };
  var scn = blob("/work/screen.scn", "application/octet-stream");
  var png = dec.ok ? blob("/work/preview.png", "image/png") : null;
  var asm = spr.ok ? blob("/work/sprites.asm", "text/plain") : null;
  var memory = memoryUsed(M);
  removeFiles(M, kept === job.key);
  postMessage({id: job.id, role: job.role, step: "downloads", scn: scn, png: png, asm: asm, notes: notes, ms: ms,
    memory: memory});
}

// The newest job not yet started, and whether one is under way. A job that
// arrives while another converts takes the place of any that waited: the
// page wants only the newest setting's result, and a conversion it no
// longer wants is cheaper to cut short here than a fresh worker is to start.
var newest = null, busy = false;
function overtaken(job) { return newest !== null && newest.id > job.id; }

async function work() {
  busy = true;
  var M = await ready;
  while (newest) {
    var job = newest;
    newest = null;
    try {
      await convert(M, job);
    } catch (err) {
      // Whatever went wrong, the page must hear of it and not wait forever.
      postMessage({id: job.id, role: job.role, step: "failed", fatal: true, message: String(err && err.message || err)});
    }
  }
  busy = false;
}

onmessage = function (e) {
  var job = e.data;
  if (job.canvases) {
    canvases = job.canvases;
    return;
  }
  newest = job;
  if (!busy) work();
};
ready.then(function () { postMessage({step: "ready"}); });
