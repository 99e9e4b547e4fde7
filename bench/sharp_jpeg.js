// mozjpeg as sharp carries it (trellis quantisation, overshoot deringing,
// optimised progressive scans, quantisation table 3), for the benchmarks.
// The input is a binary PPM, read here: sharp has no reader of its own for it.
//   node sharp_jpeg.js IN.ppm OUT.jpg QUALITY 420|444
const fs = require('fs');
const sharp = require('sharp');
const [input, output, quality, sampling] = process.argv.slice(2);
const data = fs.readFileSync(input);
// "P6", width, height, maximum, each after white space; one byte of it ends the header.
let at = 0;
const fields = [];
while (fields.length < 4) {
    while (/\s/.test(String.fromCharCode(data[at]))) at++;
    if (data[at] === 0x23) { while (data[at] !== 0x0a) at++; continue; }
    const start = at;
    while (!/\s/.test(String.fromCharCode(data[at]))) at++;
    fields.push(data.toString('latin1', start, at));
}
const [magic, width, height, maximum] = fields;
if (magic !== 'P6' || maximum !== '255') { console.error('not an 8-bit binary PPM'); process.exit(1); }
sharp(data.subarray(at + 1), {raw: {width: Number(width), height: Number(height), channels: 3}})
    .jpeg({quality: Number(quality), mozjpeg: true,
           chromaSubsampling: sampling === '444' ? '4:4:4' : '4:2:0'})
    .toFile(output)
    .catch(e => { console.error(e.message); process.exit(1); });
