// Reads back the fields of a canonical 44-byte-header WAV file.

import { readFileSync } from 'node:fs';
import { spawnSync } from 'node:child_process';

export interface WavFile {
  riff: string;
  riffSize: number;
  wave: string;
  fmt: string;
  fmtSize: number;
  audioFormat: number;
  channels: number;
  sampleRate: number;
  byteRate: number;
  blockAlign: number;
  bitsPerSample: number;
  data: string;
  dataSize: number;
  fileSize: number;
  samples: Int16Array;
}

export function readWav(path: string): WavFile {
  const bytes = readFileSync(path);
  const samples = new Int16Array((bytes.length - 44) / 2);
  for (let i = 0; i < samples.length; i++) samples[i] = bytes.readInt16LE(44 + i * 2);
  return {
    riff: bytes.toString('ascii', 0, 4),
    riffSize: bytes.readUInt32LE(4),
    wave: bytes.toString('ascii', 8, 12),
    fmt: bytes.toString('ascii', 12, 16),
    fmtSize: bytes.readUInt32LE(16),
    audioFormat: bytes.readUInt16LE(20),
    channels: bytes.readUInt16LE(22),
    sampleRate: bytes.readUInt32LE(24),
    byteRate: bytes.readUInt32LE(28),
    blockAlign: bytes.readUInt16LE(32),
    bitsPerSample: bytes.readUInt16LE(34),
    data: bytes.toString('ascii', 36, 40),
    dataSize: bytes.readUInt32LE(40),
    fileSize: bytes.length,
    samples,
  };
}

/** Whether the header is that of a 16 kHz mono 16-bit file whose sizes agree with its length. */
export function wellFormed16kMono(wav: WavFile): boolean {
  return (
    wav.riff === 'RIFF' &&
    wav.wave === 'WAVE' &&
    wav.fmt === 'fmt ' &&
    wav.fmtSize === 16 &&
    wav.audioFormat === 1 &&
    wav.channels === 1 &&
    wav.sampleRate === 16000 &&
    wav.byteRate === 32000 &&
    wav.blockAlign === 2 &&
    wav.bitsPerSample === 16 &&
    wav.data === 'data' &&
    wav.dataSize === wav.fileSize - 44 &&
    wav.riffSize === wav.fileSize - 8
  );
}

const soxPresent = spawnSync('sox', ['--version']).status === 0;

/** What `sox --i` says of a file, or undefined when sox is not installed. */
export function soxInfo(path: string): Record<string, string> | undefined {
  if (!soxPresent) return undefined;
  const run = spawnSync('sox', ['--i', path], { encoding: 'utf8' });
  if (run.status !== 0) throw new Error(`sox --i failed: ${run.stderr}`);
  const info: Record<string, string> = {};
  for (const line of run.stdout.split('\n')) {
    const colon = line.indexOf(':');
    if (colon > 0) info[line.slice(0, colon).trim()] = line.slice(colon + 1).trim();
  }
  return info;
}

export const soxSkipReason = soxPresent ? false : 'sox is not installed';
