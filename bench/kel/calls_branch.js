// Calls of a script function whose body has an `if`: the flat call cannot
// take such a body, so every call makes a scope of its own (the frame, the
// parameters bound, the `var` defined) and runs the body in it (the branch
// is taken in about half the calls).
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
