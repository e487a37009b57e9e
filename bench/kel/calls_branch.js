// Calls of a script function whose body has an `if`: the flat call cannot
// take such a body, so this measures the ordinary call (a scope per call,
// parameter entries, the `var`, the branch, taken in about half the calls).
function pick(a, b) {
  var r = a;
  if (b > a) {
    r = b % 1000003;
  }
  return r + 1;
};

function bench() {
  var s = 0;
  for (var i = 0; i < 30000; i++) {
    s = pick(s % 1000, i * 31 % 1000);
  }
  return s;
};
