// Appending to an array with push, then reading it back by index.
function bench() {
  var s = 0;
  for (var r = 0; r < 10; r++) {
    var a = [];
    for (var i = 0; i < 2000; i++) {
      a.push(i % 100);
    }
    for (var j = 0; j < a.length; j++) {
      s = (s + a[j]) % 1000003;
    }
  }
  return s;
};
