// The npm package ndef (an NDEF encoder and decoder nobody here wrote), driven by
// ndef_interop_test.py: {"encode": [[record, ...], ...], "decode": [hex, ...]} on standard
// input; the messages it builds (hex) and the records it reads on standard output.
const ndef = require(process.argv[2]);

function bytes(hex) {
  return Array.from(Buffer.from(hex || "", "hex"));
}

function build(spec) {
  switch (spec.kind) {
    case "uri": return ndef.uriRecord(spec.uri);
    case "text": return ndef.textRecord(spec.text, spec.language);
    case "mime": return ndef.mimeMediaRecord(spec.type, bytes(spec.data));
    case "absolute": return ndef.absoluteUriRecord(spec.uri, bytes(spec.data));
    case "poster": return ndef.smartPoster(spec.records.map(build));
    case "empty": return ndef.emptyRecord();
    default: return ndef.record(spec.tnf, spec.type, bytes(spec.id), bytes(spec.payload));
  }
}

function shown(record) {
  const out = {tnf: record.tnf, type: record.type, id: Buffer.from(record.id).toString("hex"),
               payload: Buffer.from(record.payload).toString("hex")};
  if (record.tnf === ndef.TNF_WELL_KNOWN && record.type === ndef.RTD_URI)
    out.uri = ndef.uri.decodePayload(record.payload);
  if (record.tnf === ndef.TNF_WELL_KNOWN && record.type === ndef.RTD_SMART_POSTER)
    out.records = ndef.decodeMessage(record.payload).map(shown);
  return out;
}

let input = "";
process.stdin.on("data", (chunk) => { input += chunk; });
process.stdin.on("end", () => {
  const request = JSON.parse(input);
  const answer = {
    encoded: (request.encode || []).map(
        (records) => Buffer.from(ndef.encodeMessage(records.map(build))).toString("hex")),
    decoded: (request.decode || []).map((hex) => ndef.decodeMessage(bytes(hex)).map(shown)),
  };
  process.stdout.write(JSON.stringify(answer));
});
