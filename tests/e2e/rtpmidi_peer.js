// An independent RTP-MIDI peer for the interoperation test: one session of the
// npm package "rtpmidi" on PORT (its control port; data on PORT + 1).
//
//   node rtpmidi_peer.js PORT [REMOTE_PORT]
//
// With REMOTE_PORT it invites 127.0.0.1:REMOTE_PORT, else it waits to be invited.
// Prints "listening" once its sockets are bound, "ready" once its own clock sync has finished (before that it sends
// nothing), then "rx HEX..." for each message it receives. Reads "tx HEX..." lines
// from standard input and sends each as one message; "end" ends the session.
'use strict';

const readline = require('readline');
const rtpmidi = require('rtpmidi');

// The package logs every session event; only our lines belong on standard output.
rtpmidi.logger.level = 'error';
rtpmidi.logger.transports.forEach((t) => { t.stderrLevels = { error: true, warn: true, info: true }; });

const port = Number(process.argv[2]);
const remotePort = process.argv[3] ? Number(process.argv[3]) : null;
const session = rtpmidi.manager.createSession({ localName: 'npm peer', bonjourName: 'npm peer', port, published: false });
const hex = (bytes) => Array.from(bytes, (b) => b.toString(16).padStart(2, '0')).join(' ');

session.on('message', (deltaTime, message) => console.log(`rx ${hex(message)}`));
session.on('ready', () => {
  console.log('listening');
  if (remotePort !== null) session.connect({ address: '127.0.0.1', port: remotePort });
});

let ready = false;
setInterval(() => {
  const synced = session.getStreams().some((s) => s.latency !== null && s.timeDifference !== null);
  if (synced && !ready) console.log('ready');
  ready = synced;
}, 50);

readline.createInterface({ input: process.stdin }).on('line', (line) => {
  const [command, ...bytes] = line.trim().split(/\s+/);
  if (command === 'tx') session.sendMessage(0, bytes.map((b) => parseInt(b, 16)));
  if (command === 'end') session.end(() => process.exit(0));
});
process.stdin.on('end', () => session.end(() => process.exit(0)));
