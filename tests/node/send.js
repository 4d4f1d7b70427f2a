// Sends status messages to QorlServer the way an Electron/Node.js program
// would, all at once from this one process, and prints "ok MESSAGE" or
// "error CODE MESSAGE" for each: what a careful sender would log.
//   node send.js write|unpaused|end MESSAGE...
// write:    pause(), socket.write(message, callback), destroy() in the callback
// unpaused: the same without pause()
// end:      socket.end(message), then wait for 'close'
'use strict';
const net = require('net');

const PIPE = '\\\\.\\pipe\\QorlPipe';

function error(err) {
  return err.code || String(err);
}

// The server never replies and disconnects once it has read: a read left
// pending fails with EPIPE then, so do not start one (Node reads as soon as
// it connects unless paused). Once the write has completed, nothing is left.
function sendWrite(message, pause) {
  return new Promise((resolve) => {
    const socket = net.connect(PIPE);
    if (pause) socket.pause();
    socket.on('error', (err) => resolve(error(err)));
    socket.write(message, (err) => {
      socket.destroy();
      resolve(err ? error(err) : null);
    });
  });
}

function sendEnd(message) {
  return new Promise((resolve) => {
    let failure = null;
    const socket = net.connect(PIPE);
    socket.on('error', (err) => { failure = error(err); });
    socket.on('close', () => resolve(failure));
    socket.end(message);
  });
}

const modes = {
  write: (message) => sendWrite(message, true),
  unpaused: (message) => sendWrite(message, false),
  end: sendEnd,
};

async function main() {
  const [mode, ...messages] = process.argv.slice(2);
  const send = modes[mode];
  if (!send || messages.length === 0) {
    console.error('usage: node send.js write|unpaused|end MESSAGE...');
    process.exit(2);
  }
  // A sender that never hears back must not hang the test.
  setTimeout(() => { console.log('error TIMEOUT'); process.exit(3); }, 20000).unref();
  const results = await Promise.all(messages.map(send));
  results.forEach((code, i) => console.log(code ? `error ${code} ${messages[i]}` : `ok ${messages[i]}`));
  process.exitCode = results.some((code) => code) ? 1 : 0;
}

main();
