// The audio the fake helper plays back: a fixed sample sequence cut into frames of uneven
// sizes, so that tests can tell a lost, doubled or misaligned byte from a right one.

/** Frame lengths in samples; 171 samples is the 342-byte frame of the protocol's example. */
export const frameSampleCounts = [171, 1, 320, 7, 512, 2, 160, 1023, 3, 256];

/** Sample k of the stream: walks every byte value in both halves of the 16-bit word. */
export function sampleAt(k: number): number {
  return ((k * 7919 + 12345) % 65536) - 32768;
}

export function knownFrames(count: number): Int16Array[] {
  const frames: Int16Array[] = [];
  let k = 0;
  for (let i = 0; i < count; i++) {
    const frame = new Int16Array(frameSampleCounts[i % frameSampleCounts.length] as number);
    for (let j = 0; j < frame.length; j++) frame[j] = sampleAt(k++);
    frames.push(frame);
  }
  return frames;
}

/** The wire bytes of frames: each one's little-endian length, then its little-endian samples. */
export function encodeFrames(frames: readonly Int16Array[]): Buffer {
  const parts: Buffer[] = [];
  for (const frame of frames) {
    const bytes = Buffer.alloc(4 + frame.length * 2);
    bytes.writeUInt32LE(frame.length * 2, 0);
    frame.forEach((sample, i) => bytes.writeInt16LE(sample, 4 + i * 2));
    parts.push(bytes);
  }
  return Buffer.concat(parts);
}

/** A small deterministic generator, so a failing random chunking can be replayed. */
export function seededRandom(seed: number): () => number {
  let state = seed >>> 0 || 1;
  return () => {
    state ^= state << 13;
    state >>>= 0;
    state ^= state >>> 17;
    state ^= state << 5;
    state >>>= 0;
    return state / 0x100000000;
  };
}

export type Chunking = 'whole' | 'bytes' | 'random';

/** Cuts bytes into the pieces a reader might get: all at once, one byte each, or random sizes. */
export function cut(bytes: Uint8Array, chunking: Chunking, seed = 1): Uint8Array[] {
  if (chunking === 'whole') return [bytes];
  const pieces: Uint8Array[] = [];
  const random = seededRandom(seed);
  for (let offset = 0; offset < bytes.length; ) {
    const size = chunking === 'bytes' ? 1 : 1 + Math.floor(random() * 97);
    pieces.push(bytes.subarray(offset, offset + size));
    offset += size;
  }
  return pieces;
}
