#!/usr/bin/env node
// Reads the text of the sample image with mivo-ocr:
//   node examples/node/read-sample.js [IMAGE [MIVO_OCR]]
'use strict';
const path = require('node:path');
const { recognize } = require('../../bindings/node');

const image = process.argv[2] ?? path.join(__dirname, '..', 'ocr', 'sample.png');
recognize(image, { tool: process.argv[3], timeoutMs: 20000 }).then(
  ({ text, lineCount, confidence }) => console.log(`${lineCount} lines, confidence ${confidence}:\n${text}`),
  (error) => {
    console.error(`cannot read ${image}: ${error.message}`);
    process.exitCode = 1;
  },
);
