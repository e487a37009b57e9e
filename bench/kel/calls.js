// Calls of a script function with two arguments.
function add(a, b) {
  return (a + b) % 1000003;
};

function bench() {
  var s = 0;
  for (var i = 0; i < 30000; i++) {
    s = add(s, i);
  }
  return s;
};
