// Building texts by concatenation, numbers converted on the way.
function bench() {
  var total = 0;
  for (var r = 0; r < 10; r++) {
    var s = "";
    for (var i = 0; i < 1000; i++) {
      s = s + "ab" + i;
    }
    total = total + s.length;
  }
  return total;
};
