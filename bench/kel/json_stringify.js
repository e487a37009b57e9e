// JSON.stringify of a 1 MB document, parsed once beforehand.
var data = JSON.parse(doc);

function bench() {
  var text = JSON.stringify(data);
  return text.length > 500000;
};
