// The npm package ndef (an NDEF encoder and decoder nobody here wrote), driven by
// ndef_interop_test.py: {"encode": [[record, ...], ...], "decode": [hex, ...]} on standard
// input; the messages it builds (hex) and the records it reads on standard output.
const ndef = require(process.argv[2]);

function bytes(hex) {
  return Array.from(Buffer.from(hex || "", "hex"));
}

function build(wanted) {
  switch (wanted.kind) {
    case "uri": return ndef.uriRecord(wanted.uri);
    case "text": return ndef.textRecord(wanted.text, wanted.language);
    case "mime": return ndef.mimeMediaRecord(wanted.type, bytes(wanted.data));
    case "absolute": return ndef.absoluteUriRecord(wanted.uri, bytes(wanted.data));
    case "poster": return ndef.smartPoster(wanted.records.map(build));
    case "empty": return ndef.emptyRecord();
    default: return ndef.record(wanted.tnf, wanted.type, bytes(wanted.id), bytes(wanted.payload));
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
