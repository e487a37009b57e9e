// Searching texts with a regular expression.
var lines = [];
var line = "";
for (var i = 0; i < 200; i++) {
  line = "user" + i + " logged in from host-" + i % 17 + ".example.org at 12:" + i % 60;
  lines = lines.concat([line]);
}

function bench() {
  var s = 0;
  for (var r = 0; r < 10; r++) {
    for (var i = 0; i < lines.length; i++) {
      s = s + lines[i].search(/host-[0-9]+\.example\.(org|net)/);
    }
  }
  return s;
};
