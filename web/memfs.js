// Appended to the module by packaging/web.sh, inside its scope.
//
// The memory file system grows a file by an eighth each time past 1 MiB,
// copying it whole every time: a 48 MiB output was copied some thirty times,
// which made a 4096x4096 conversion several times slower. Doubling copies it
// a few times only.
MEMFS.expandFileStorage = function (node, newCapacity) {
  var prev = node.contents ? node.contents.length : 0;
  if (prev >= newCapacity) return;
  newCapacity = Math.max(newCapacity, prev * 2, 256);
  var old = node.contents;
  node.contents = new Uint8Array(newCapacity);
  if (node.usedBytes > 0) node.contents.set(old.subarray(0, node.usedBytes), 0);
};
