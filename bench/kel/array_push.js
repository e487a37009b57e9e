// Appending to an array one element at a time, then reading it back by
// index. kel's arrays have no push and storing past the end does not grow
// them, so each append concatenates a one-element array (the form both
// engines share).
function bench() {
  var s = 0;
  for (var r = 0; r < 5; r++) {
    var a = [];
    for (var i = 0; i < 300; i++) {
      a = a.concat([i % 100]);
    }
    for (var j = 0; j < a.length; j++) {
      s = (s + a[j]) % 1000003;
    }
  }
  return s;
};
