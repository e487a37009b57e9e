// Reading and writing the properties of an object.
function bench() {
  var o = {"alpha": 1, "beta": 2, "gamma": 3, "delta": 4, "epsilon": 5};
  for (var i = 0; i < 30000; i++) {
    o.alpha = o.beta + o.gamma;
    o.delta = o.epsilon + i % 10;
    o.gamma = o.alpha % 100;
    o["beta"] = o.delta % 7;
  }
  return o.alpha + o.beta + o.gamma + o.delta + o.epsilon;
};
