'use strict';
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { test } = require('node:test');
const { recognize } = require('..');
const { repository, eventually } = require('./support');

const tool = process.env.MIVO_OCR_TOOL || 'mivo-ocr';
const sample = path.join(repository, 'examples', 'ocr', 'sample.png');

// The tool's own words for a file it cannot read, asked of it directly.
function toolError(file) {
  try {
    execFileSync(tool, [file], { stdio: ['ignore', 'pipe', 'ignore'] });
  } catch (failure) {
    return JSON.parse(failure.stdout).error;
  }
  throw new Error(`${tool} read ${file}`);
}

// Dead once gone, or a zombie waiting for its new parent to reap it.
function running(pid) {
  try {
    return !/^\d+ \(.*\) Z /.test(fs.readFileSync(`/proc/${pid}/stat`, 'utf8'));
  } catch {
    return false;
  }
}

function scratch() {
  return fs.mkdtempSync(path.join(os.tmpdir(), 'mivo-node-'));
}

test('recognize returns the text of the sample image', async () => {
  const result = await recognize(sample, { tool });
  assert.match(result.text, /^Sprint review: release 2\.4\n/);
  assert.equal(result.lineCount, result.text.split('\n').length);
  assert.ok(result.confidence > 0.5 && result.confidence <= 1);
});

test('recognize rejects with the tool message for files it cannot read', async (t) => {
  const notAnImage = path.join(scratch(), 'notes.png');
  fs.writeFileSync(notAnImage, 'plain text, not a picture\n');
  for (const [what, file] of [
    ['a missing file', path.join(os.tmpdir(), 'mivo-no-such-image.png')],
    ['a file that is no image', notAnImage],
  ]) {
    await t.test(what, () => assert.rejects(recognize(file, { tool }), { message: toolError(file), code: 'MIVO_OCR_FAILED' }));
  }
});

test('a tool that runs too long is killed with what it started, and the call times out', { timeout: 20000 }, async () => {
  const folder = scratch();
  const stuck = path.join(folder, 'stuck-ocr');
  const pidFile = path.join(folder, 'pids');
  // The shell and its own child: both must go.
  fs.writeFileSync(stuck, `#!/bin/sh\nsleep 60 &\necho $$ $! > '${pidFile}'\nwait\n`, { mode: 0o755 });
  const started = Date.now();
  await assert.rejects(recognize(sample, { tool: stuck, timeoutMs: 300 }), { code: 'ETIMEDOUT' });
  assert.ok(Date.now() - started < 10000);
  // Killed, and gone once the kernel has finished with them: the pipes close
  // a moment before a killed process is marked dead.
  for (const pid of fs.readFileSync(pidFile, 'utf8').trim().split(' ').map(Number))
    await eventually(() => !running(pid), 5000, `the end of process ${pid}`);
});

test('a timeout no timer can keep is refused, not fired at once', async () => {
  for (const timeoutMs of [0, -5, NaN, 2 ** 31, Infinity])
    await assert.rejects(recognize(sample, { tool, timeoutMs }), RangeError, `timeoutMs ${timeoutMs}`);
});

test('a tool that cannot be started is reported', async () => {
  await assert.rejects(recognize(sample, { tool: path.join(scratch(), 'absent') }), { code: 'ENOENT' });
});
