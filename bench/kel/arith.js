// Integer arithmetic in a loop: locals, operators, comparisons.
function bench() {
  var s = 0;
  for (var i = 0; i < 100000; i++) {
    s = (s + i * 3 - i % 7) % 1000003;
    if (s > 500000) {
      s = s - 1;
    }
  }
  return s;
};
