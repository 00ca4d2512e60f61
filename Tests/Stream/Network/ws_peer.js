'use strict';
// WebSocket peer for the interop tests, built on the 'ws' package.
//   node ws_peer.js server LIFETIME_S        listens on 127.0.0.1, prints "PORT <n>"
//   node ws_peer.js client PORT LIFETIME_S   connects to ws://127.0.0.1:PORT/, prints "OPEN"
// On every connection:
//   - a text "CMD SEND" makes it send text and binary messages of the test sizes, then a text and a
//     binary message of 3000 bytes in three fragments each, then the text "DONE";
//   - a text "CMD PING <payload>" makes it ping; the pong is reported back as the text "PONG <payload>";
//   - a text "CMD CLOSE" makes it close with code 1000;
//   - any other message is checked against the expected payload of its kind and length and answered
//     with "GOT <text|binary> <length> <ok|bad>".
// It prints "CLOSED <code>" when a connection closes and exits after LIFETIME_S seconds at the latest
// (a client also exits after its connection closed).
const WebSocket = require('ws');

const mode = process.argv[2];
const lifetimeS = Number(process.argv[mode === 'client' ? 4 : 3] || 30);
setTimeout(() => {
  console.log('LIFETIME');
  process.exit(3);
}, lifetimeS * 1000);

const sizes = [0, 125, 126, 65536, 16 * 1024 * 1024];

function pattern(kind, length) {
  const bytes = Buffer.allocUnsafe(length);
  for (let i = 0; i < length; i++) {
    bytes[i] = kind === 'text' ? 97 + ((i * 7 + length) % 26) : (i * 31 + length) & 0xff;
  }
  return bytes;
}

function command(ws, text) {
  if (text === 'SEND') {
    for (const kind of ['text', 'binary']) {
      for (const length of sizes) ws.send(pattern(kind, length), { binary: kind === 'binary' });
    }
    for (const kind of ['text', 'binary']) {
      const whole = pattern(kind, 3000);
      const binary = kind === 'binary';
      ws.send(whole.subarray(0, 1000), { binary, fin: false });
      ws.send(whole.subarray(1000, 2000), { binary, fin: false });
      ws.send(whole.subarray(2000), { binary, fin: true });
    }
    ws.send('DONE');
  } else if (text.startsWith('PING ')) {
    ws.ping(text.slice(5));
  } else if (text === 'CLOSE') {
    ws.close(1000, 'bye');
  }
}

function attach(ws) {
  ws.on('message', (data, isBinary) => {
    if (!isBinary) {
      const text = data.toString();
      if (text.startsWith('CMD ')) return command(ws, text.slice(4));
    }
    const kind = isBinary ? 'binary' : 'text';
    const ok = data.equals(pattern(kind, data.length));
    ws.send(`GOT ${kind} ${data.length} ${ok ? 'ok' : 'bad'}`);
  });
  ws.on('pong', (payload) => ws.send('PONG ' + payload.toString()));
  ws.on('close', (code) => {
    console.log(`CLOSED ${code}`);
    if (mode === 'client') setTimeout(() => process.exit(0), 50);
  });
  ws.on('error', (error) => console.log('ERROR ' + error.message));
}

if (mode === 'server') {
  const server = new WebSocket.WebSocketServer({ host: '127.0.0.1', port: 0 });
  server.on('listening', () => console.log(`PORT ${server.address().port}`));
  server.on('connection', attach);
} else if (mode === 'client') {
  const ws = new WebSocket(`ws://127.0.0.1:${process.argv[3]}/`);
  ws.on('open', () => console.log('OPEN'));
  attach(ws);
} else {
  console.log('usage: ws_peer.js server LIFETIME_S | client PORT LIFETIME_S');
  process.exit(2);
}
