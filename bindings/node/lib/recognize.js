'use strict';
// mivo-ocr as a promise: one child per call, in a process group of its own
// so that a timeout, or this process's exit, ends whatever it started too.
const { spawn } = require('node:child_process');

const MAX_TIMEOUT_MS = 2 ** 31 - 1;
const running = new Set();

function killGroup(child) {
  try {
    process.kill(-child.pid, 'SIGKILL');
  } catch {
    // The group is already gone.
  }
}

process.on('exit', () => running.forEach(killGroup));

function failure(message, code) {
  return Object.assign(new Error(message), { code });
}

function outcome(tool, status, signal, stdout, stderr) {
  let reply = null;
  try {
    reply = JSON.parse(stdout);
  } catch {
    // Judged below by the status.
  }
  if (status === 0 && reply && typeof reply.text === 'string')
    return { text: reply.text, lineCount: reply.line_count, confidence: reply.confidence };
  if (status === 1 && reply && typeof reply.error === 'string')
    throw failure(reply.error, 'MIVO_OCR_FAILED');
  const how = signal ? `signal ${signal}` : `status ${status}`;
  throw failure(`${tool} ended with ${how}: ${stderr.trim() || stdout.trim()}`, 'MIVO_OCR_CRASHED');
}

// Resolves with { text, lineCount, confidence }. Rejects with the tool's own
// message when it cannot read the image, and after `timeoutMs` (the child is
// killed first). `tool` is the program: a name looked up on PATH, or a path.
function recognize(imagePath, { timeoutMs = 30000, tool = 'mivo-ocr' } = {}) {
  // Timers take at most 2^31 - 1 ms; a longer one would fire at once.
  if (!(timeoutMs >= 1 && timeoutMs <= MAX_TIMEOUT_MS))
    return Promise.reject(new RangeError(`timeoutMs must be from 1 to ${MAX_TIMEOUT_MS}`));
  return new Promise((resolve, reject) => {
    const child = spawn(tool, [imagePath], { stdio: ['ignore', 'pipe', 'pipe'], detached: true });
    let stdout = '';
    let stderr = '';
    let timedOut = false;
    child.stdout.setEncoding('utf8').on('data', (text) => (stdout += text));
    child.stderr.setEncoding('utf8').on('data', (text) => (stderr += text));
    const timer = setTimeout(() => {
      timedOut = true;
      killGroup(child);
    }, timeoutMs);
    if (child.pid !== undefined) running.add(child);
    const settle = (finish) => {
      clearTimeout(timer);
      running.delete(child);
      try {
        resolve(finish());
      } catch (error) {
        reject(error);
      }
    };
    child.on('error', (error) =>
      settle(() => {
        throw failure(`cannot run ${tool}: ${error.message}`, error.code);
      }),
    );
    child.on('close', (status, signal) => {
      // Whatever the tool left running goes with it.
      killGroup(child);
      settle(() => {
        if (timedOut) throw failure(`${tool} took longer than ${timeoutMs} ms`, 'ETIMEDOUT');
        return outcome(tool, status, signal, stdout, stderr);
      });
    });
  });
}

module.exports = { recognize };
