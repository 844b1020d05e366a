import assert from 'node:assert/strict';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, describe, it } from 'node:test';
import { WavWriter, wavHeader } from '../src/wav_writer.js';
import { knownFrames } from './support/known_stream.js';
import { readWav, soxInfo, soxSkipReason, wellFormed16kMono } from './support/wav.js';

const scratch = mkdtempSync(join(tmpdir(), 'wav-test-'));
after(() => rmSync(scratch, { recursive: true, force: true }));

describe('WavWriter', () => {
  it('lays out the header fields of 16-bit PCM', () => {
    const header = wavHeader({ sampleRate: 44100, channels: 2 }, 1000);
    assert.equal(header.length, 44);
    assert.equal(header.toString('ascii', 0, 4), 'RIFF');
    assert.equal(header.readUInt32LE(4), 1036);
    assert.equal(header.toString('ascii', 8, 16), 'WAVEfmt ');
    assert.deepEqual(
      [header.readUInt32LE(16), header.readUInt16LE(20), header.readUInt16LE(22), header.readUInt32LE(24)],
      [16, 1, 2, 44100],
    );
    assert.equal(header.readUInt32LE(28), 176400, 'byte rate');
    assert.equal(header.readUInt16LE(32), 4, 'block align');
    assert.equal(header.readUInt16LE(34), 16, 'bits per sample');
    assert.equal(header.toString('ascii', 36, 40), 'data');
    assert.equal(header.readUInt32LE(40), 1000);
  });

  it('writes the samples after the header and patches both sizes on close', async () => {
    const path = join(scratch, 'frames.wav');
    const writer = await WavWriter.create(path, { sampleRate: 16000, channels: 1 });
    const frames = knownFrames(12);
    for (const frame of frames) assert.equal(writer.write(frame), true);
    // A view into the middle of a larger array, as the recorder cuts the last frame.
    const tail = knownFrames(1)[0]?.subarray(1, 5) as Int16Array;
    writer.write(tail);
    await writer.close();

    const wav = readWav(path);
    const expected = Int16Array.from([...frames.flatMap((frame) => [...frame]), ...tail]);
    assert.ok(wellFormed16kMono(wav), JSON.stringify({ ...wav, samples: undefined }));
    assert.equal(wav.dataSize, expected.length * 2);
    assert.deepEqual(wav.samples, expected);
    assert.equal(writer.bytesWritten, expected.length * 2);
  });

  it('leaves a valid empty file when closed before any sample', async () => {
    const path = join(scratch, 'empty.wav');
    await (await WavWriter.create(path, { sampleRate: 16000, channels: 1 })).close();
    const wav = readWav(path);
    assert.ok(wellFormed16kMono(wav));
    assert.equal(wav.dataSize, 0);
  });

  it('refuses writes after close', async () => {
    const writer = await WavWriter.create(join(scratch, 'closed.wav'), { sampleRate: 16000, channels: 1 });
    await writer.close();
    assert.throws(() => writer.write(new Int16Array(2)), /already closed/);
  });

  it('writes a file that sox reads as 16 kHz mono 16-bit', { skip: soxSkipReason }, async () => {
    const path = join(scratch, 'sox.wav');
    const writer = await WavWriter.create(path, { sampleRate: 16000, channels: 1 });
    writer.write(new Int16Array(8000));
    await writer.close();
    const info = soxInfo(path);
    assert.equal(info?.['Channels'], '1');
    assert.equal(info?.['Sample Rate'], '16000');
    assert.equal(info?.['Precision'], '16-bit');
    assert.match(info?.['Duration'] ?? '', /^00:00:00\.50 = 8000 samples/);
    assert.match(info?.['Sample Encoding'] ?? '', /16-bit Signed Integer PCM/);
  });
});
