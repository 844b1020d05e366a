import assert from 'node:assert/strict';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, describe, it } from 'node:test';
import { startCapture, type Capture } from '../src/capture.js';
import { HelperExitError, HelperStartError, ProtocolError } from '../src/errors.js';
import type { HelperEvent } from '../src/events.js';
import { fakeEnv, fakeHelperPath } from './support/fake.js';
import { knownFrames, type Chunking } from './support/known_stream.js';

const scratch = mkdtempSync(join(tmpdir(), 'capture-test-'));
after(() => rmSync(scratch, { recursive: true, force: true }));

function fake(settings: Record<string, string>, extra: { pids?: number[] } = {}): Promise<Capture> {
  return startCapture({ helperPath: fakeHelperPath, env: fakeEnv(settings), ...extra });
}

async function take<T>(iterator: AsyncIterator<T>, count: number): Promise<T[]> {
  const values: T[] = [];
  while (values.length < count) {
    const next = await iterator.next();
    if (next.done) break;
    values.push(next.value);
  }
  return values;
}

describe('startCapture against the fake helper', () => {
  for (const chunking of ['whole', 'bytes', 'random'] as Chunking[]) {
    it(`resolves on "ready" and delivers every frame and event exactly, written ${chunking}`, async () => {
      const capture = await fake({ FAKE_CHUNKING: chunking, FAKE_FRAMES: '14' });
      const viaIterator = capture.frames();
      const viaEmitter: Int16Array[] = [];
      capture.on('frame', (frame) => viaEmitter.push(frame));
      const protocolErrors: ProtocolError[] = [];
      capture.on('protocolError', (error) => protocolErrors.push(error));
      const events = capture.events();

      assert.equal(capture.ready.sampleRate, 16000);
      assert.equal(capture.ready.channels, 1);
      assert.deepEqual(await take(viaIterator, 14), knownFrames(14));
      assert.deepEqual(viaEmitter, knownFrames(14));

      const types = (await take(events, 8)).map((event: HelperEvent) => event.type);
      assert.deepEqual(types, ['starting', 'output.device', 'tap.created', 'format', 'ready', 'capture.started', 'chunk', 'chunk']);
      assert.equal(protocolErrors.length, 1);
      assert.match(protocolErrors[0]?.message ?? '', /not JSON: ==4711== not an event line$/);
      const exit = await capture.stop();
      assert.equal(exit.signal, 'SIGTERM');
    });
  }

  it('ends its iterators cleanly after stop() and resolves with how the helper ended', async () => {
    const capture = await fake({ FAKE_FRAMES: '3' });
    let seen = 0;
    let exitEvents = 0;
    capture.on('exit', () => exitEvents++);
    const stopped = (async () => {
      for await (const frame of capture) {
        assert.ok(frame instanceof Int16Array);
        if (++seen === 3) await capture.stop();
      }
    })();
    await stopped;
    assert.equal(seen, 3);
    assert.deepEqual(await capture.exited, { code: null, signal: 'SIGTERM' });
    assert.equal(exitEvents, 1);
    // After the end, a new iterator is simply done, and stop() is harmless.
    assert.deepEqual(await capture.frames().next(), { value: undefined, done: true });
    assert.deepEqual(await capture.stop(), { code: null, signal: 'SIGTERM' });
  });

  it('passes pids to the helper in TALVORIN_AUDIO_INCLUDE_PID, and an empty list removes it', async () => {
    const cases: { name: string; pids?: number[]; inherited?: string; expected: string | null }[] = [
      { name: 'two pids', pids: [4242, 17], expected: '4242,17' },
      { name: 'pids over an inherited value', pids: [5], inherited: '9,9', expected: '5' },
      { name: 'no pids option keeps the inherited value', inherited: '31', expected: '31' },
      { name: 'an empty list', pids: [], inherited: '31', expected: null },
    ];
    for (const { name, pids, inherited, expected } of cases) {
      const report = join(scratch, `report-${name.replace(/\W+/g, '-')}.json`);
      const settings: Record<string, string> = { FAKE_REPORT: report, FAKE_FRAMES: '1' };
      if (inherited !== undefined) settings['TALVORIN_AUDIO_INCLUDE_PID'] = inherited;
      const capture = await fake(settings, pids === undefined ? {} : { pids });
      await capture.stop();
      const seen = JSON.parse(readFileSync(report, 'utf8')) as { argv: string[]; includePid: string | null };
      assert.equal(seen.includePid, expected, name);
      assert.deepEqual(seen.argv, [], name);
    }
  });

  it('refuses pids that are not process IDs before spawning anything', async () => {
    for (const pid of [0, -1, 1.5, 2147483648, Number.NaN]) {
      await assert.rejects(fake({}, { pids: [12, pid] }), TypeError, String(pid));
    }
  });

  const startFailures: {
    name: string;
    settings: Record<string, string>;
    helperPath?: string;
    message: RegExp;
    code?: string;
    status?: number | null;
  }[] = [
    {
      name: 'the helper reports capture_start_failed',
      settings: { FAKE_SCENARIO: 'start-failed', FAKE_MESSAGE: 'No default macOS output device is available.', FAKE_CHUNKING: 'bytes' },
      message: /^No default macOS output device is available\.$/,
      code: 'capture_start_failed',
      status: 3,
    },
    {
      name: 'the helper ends before "ready" without a word',
      settings: { FAKE_SCENARIO: 'exit-early' },
      message: /exited with status 1 before it was ready/,
      status: 1,
    },
    {
      name: 'the binary does not exist',
      settings: {},
      helperPath: join(scratch, 'no-such-helper'),
      message: /^could not start the audio helper at .*no-such-helper: spawn .* ENOENT/,
    },
  ];
  for (const { name, settings, helperPath, message, code, status } of startFailures) {
    it(`rejects when ${name}`, async () => {
      const started = startCapture({ helperPath: helperPath ?? fakeHelperPath, env: fakeEnv(settings) });
      await assert.rejects(started, (error: unknown) => {
        assert.ok(error instanceof HelperStartError);
        assert.match(error.message, message);
        assert.equal(error.code, code);
        assert.equal(error.exit?.code, status);
        return true;
      });
    });
  }

  it('keeps the start-up lines of a failed start, the error line last', async () => {
    const error = await fake({ FAKE_SCENARIO: 'start-failed', FAKE_MESSAGE: 'boom.' }).then(
      () => assert.fail('should not start'),
      (reason: unknown) => reason as HelperStartError,
    );
    assert.deepEqual(
      error.events.map((event) => event.type),
      ['starting', 'error'],
    );
  });

  it('gives up and kills a helper that never says "ready"', async () => {
    const started = startCapture({ helperPath: fakeHelperPath, env: fakeEnv({ FAKE_SCENARIO: 'silent' }), readyTimeoutMs: 200 });
    await assert.rejects(started, /did not report "ready" within 200 ms/);
  });

  it('fails a running capture whose helper ends on its own: iterator throws, "error" is emitted', async () => {
    const capture = await fake({ FAKE_FRAMES: '4', FAKE_THEN: 'exit', FAKE_EXIT_STATUS: '9' });
    const errors: Error[] = [];
    capture.on('error', (error) => errors.push(error));
    const frames: Int16Array[] = [];
    await assert.rejects(
      (async () => {
        for await (const frame of capture.frames()) frames.push(frame);
      })(),
      (error: unknown) => error instanceof HelperExitError && error.exit.code === 9,
    );
    assert.deepEqual(frames, knownFrames(4), 'frames written before the end still arrive');
    assert.equal(errors.length, 1);
    assert.match(errors[0]?.message ?? '', /exited with status 9 during the capture/);
  });

  it('stops a helper whose frame stream breaks, and says why', async () => {
    const capture = await fake({ FAKE_SCENARIO: 'odd-frame' });
    const protocolErrors: ProtocolError[] = [];
    capture.on('protocolError', (error) => protocolErrors.push(error));
    const frames: Int16Array[] = [];
    await assert.rejects(
      (async () => {
        for await (const frame of capture) frames.push(frame);
      })(),
      (error: unknown) => error instanceof ProtocolError && /odd length 3/.test(error.message),
    );
    assert.deepEqual(frames, knownFrames(1));
    assert.equal(protocolErrors.length, 1);
    assert.equal((await capture.exited).signal, 'SIGTERM');
  });
});
