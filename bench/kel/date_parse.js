// Parsing ISO 8601 date texts.
function bench() {
  var s = 0;
  for (var i = 0; i < 2000; i++) {
    var d = Date.parse("2024-03-1" + i % 10 + "T12:34:5" + i % 6 + ".250Z");
    s = (s + d.getTime() % 100000) % 1000003;
  }
  return s;
};
