import assert from 'node:assert/strict';
import { describe, it } from 'node:test';
import { ProtocolError } from '../src/errors.js';
import { FrameParser } from '../src/frame_parser.js';
import { cut, encodeFrames, knownFrames, type Chunking } from './support/known_stream.js';

function feed(parser: FrameParser, pieces: Uint8Array[]): Int16Array[] {
  const frames: Int16Array[] = [];
  for (const piece of pieces) parser.push(piece, (frame) => frames.push(frame));
  return frames;
}

describe('FrameParser', () => {
  const frames = knownFrames(23);
  const wire = encodeFrames(frames);

  const chunkings: { name: string; pieces: Uint8Array[] }[] = [
    ...(['whole', 'bytes'] as Chunking[]).map((chunking) => ({ name: chunking, pieces: cut(wire, chunking) })),
    ...[1, 2, 3, 99].map((seed) => ({ name: `random sizes, seed ${seed}`, pieces: cut(wire, 'random', seed) })),
    { name: 'with empty reads between', pieces: cut(wire, 'random', 5).flatMap((p) => [p, new Uint8Array(0)]) },
  ];
  for (const { name, pieces } of chunkings) {
    it(`returns every frame exactly, read ${name}`, () => {
      const parser = new FrameParser();
      assert.deepEqual(feed(parser, pieces), frames);
      assert.equal(parser.pendingBytes, 0);
    });
  }

  it('returns the same frames for a cut at every byte position of a short stream', () => {
    const short = knownFrames(4);
    const bytes = encodeFrames(short);
    for (let at = 0; at <= bytes.length; at++) {
      const parser = new FrameParser();
      const got = feed(parser, [bytes.subarray(0, at), bytes.subarray(at)]);
      assert.deepEqual(got, short, `cut at byte ${at}`);
    }
  });

  it('reads the 342-byte example: 56 01 00 00, then 171 samples', () => {
    const payload = Buffer.alloc(342);
    payload.writeInt16LE(-2, 0);
    payload.writeInt16LE(32767, 340);
    const parser = new FrameParser();
    const [frame, ...rest] = feed(parser, [Buffer.concat([Buffer.from([0x56, 0x01, 0x00, 0x00]), payload])]);
    assert.equal(rest.length, 0);
    assert.equal(frame?.length, 171);
    assert.equal(frame?.[0], -2);
    assert.equal(frame?.[170], 32767);
  });

  it('copies a payload at an odd byte offset into an aligned array of its own', () => {
    const bytes = encodeFrames(knownFrames(2));
    const backing = Buffer.alloc(bytes.length + 1);
    bytes.copy(backing, 1);
    const misaligned = backing.subarray(1);
    const parser = new FrameParser();
    const got = feed(parser, [misaligned]);
    assert.deepEqual(got, knownFrames(2));
    backing.fill(0);
    assert.deepEqual(got, knownFrames(2), 'frames must not share the reader’s buffer');
    for (const frame of got) assert.equal(frame.byteOffset % 2, 0);
  });

  it('counts the bytes of an unfinished frame', () => {
    const parser = new FrameParser();
    assert.deepEqual(feed(parser, [encodeFrames(knownFrames(1)).subarray(0, 10)]), []);
    assert.equal(parser.pendingBytes, 10);
    assert.deepEqual(feed(parser, [Buffer.from([1, 0])]), []);
    assert.equal(parser.pendingBytes, 12);
  });

  const badLengths: { name: string; header: number[]; message: RegExp }[] = [
    { name: 'zero', header: [0, 0, 0, 0], message: /length 0/ },
    { name: 'odd', header: [0x57, 0x01, 0, 0], message: /odd length 343/ },
    { name: 'over the limit', header: [0x02, 0x10, 0, 0], message: /4098 bytes, over the limit of 4096/ },
  ];
  for (const { name, header, message } of badLengths) {
    it(`rejects a ${name} length after handing on the frames before it, whole or split`, () => {
      const good = encodeFrames(knownFrames(2));
      const splits = [
        [Buffer.concat([good, Buffer.from(header)])],
        [Buffer.concat([good, Buffer.from(header.slice(0, 2))]), Buffer.from(header.slice(2))],
      ];
      for (const pieces of splits) {
        const parser = new FrameParser({ maxPayloadBytes: 4096 });
        const frames: Int16Array[] = [];
        assert.throws(
          () => pieces.forEach((piece) => parser.push(piece, (frame) => frames.push(frame))),
          (error: unknown) => error instanceof ProtocolError && message.test(error.message),
        );
        assert.deepEqual(frames, knownFrames(2));
        // The stream is out of step for good: later bytes are refused too.
        assert.throws(() => parser.push(good, () => assert.fail('no frame after the fault')), ProtocolError);
      }
    });
  }
});
