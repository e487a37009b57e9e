// JSON.parse of a 1 MB document (the global `doc`).
function bench() {
  var o = JSON.parse(doc);
  return o.items.length;
};
