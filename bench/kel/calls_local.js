// Calls of a script function with two arguments and a local variable: the
// ordinary call path, with a scope for the body.
function add(a, b) {
  var t = a + b;
  return t % 1000003;
};

function bench() {
  var s = 0;
  for (var i = 0; i < 30000; i++) {
    s = add(s, i);
  }
  return s;
};
