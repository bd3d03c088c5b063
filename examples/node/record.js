#!/usr/bin/env node
// Records what the machine plays for a few seconds and prints its level once
// a second:   node examples/node/record.js [SECONDS [LIBRARY]]
// LIBRARY: the capture library's path when it is not installed.
'use strict';
const { openCapture } = require('../../bindings/node');

const seconds = Number(process.argv[2] ?? 5);
const capture = openCapture({ library: process.argv[3] });

let peak = 0;
let samples = 0;
capture.start({
  onFrame(frame, sampleRate) {
    for (const sample of frame) peak = Math.max(peak, Math.abs(sample));
    samples += frame.length;
    if (samples < sampleRate) return;
    const level = peak > 0 ? `${(20 * Math.log10(peak)).toFixed(1)} dBFS` : 'silence';
    console.log(`${sampleRate} Hz, peak ${level}, ${capture.droppedFrames} frames dropped`);
    peak = 0;
    samples = 0;
  },
  onStopped() {
    console.log('the capture went silent (the output device changed); waiting for it to resume');
  },
});
setTimeout(() => capture.stop().then(() => console.log('stopped')), seconds * 1000);
