// Growing an array (by concatenation: the shared subset) and reading and
// writing its elements by index.
function bench() {
  var a = [0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15];
  for (var k = 0; k < 6; k++) {
    a = a.concat(a);
  }
  var s = 0;
  for (var r = 0; r < 20; r++) {
    for (var i = 0; i < a.length; i++) {
      a[i] = (a[i] + i) % 1000;
      s = (s + a[i]) % 1000003;
    }
  }
  return s;
};
