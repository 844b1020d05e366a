import assert from 'node:assert/strict';
import { join } from 'node:path';
import { tmpdir } from 'node:os';
import { describe, it } from 'node:test';
import { HelperExitError, HelperStartError } from '../src/errors.js';
import type { ErrorEvent, InputProcess } from '../src/events.js';
import { watchInputProcesses } from '../src/watch.js';
import { fakeEnv, fakeHelperPath } from './support/fake.js';
import type { Chunking } from './support/known_stream.js';

const expectedLists: InputProcess[][] = [
  [],
  [
    { pid: 450, bundleId: 'com.example.rec' },
    { pid: 900, bundleId: 'com.example.rec' },
  ],
  [{ pid: 77, bundleId: '' }],
];

describe('watchInputProcesses against the fake helper', () => {
  for (const chunking of ['whole', 'bytes', 'random'] as Chunking[]) {
    it(`gives each list in order, as iterator and as events, with probe errors apart, written ${chunking}`, async () => {
      const watcher = await watchInputProcesses({
        helperPath: fakeHelperPath,
        env: fakeEnv({ FAKE_SCENARIO: 'watch', FAKE_CHUNKING: chunking }),
      });
      const heard: InputProcess[][] = [];
      const probeErrors: ErrorEvent[] = [];
      watcher.on('processes', (list) => heard.push(list));
      watcher.on('probeError', (error) => probeErrors.push(error));
      const lists: InputProcess[][] = [];
      for await (const list of watcher) {
        lists.push(list);
        if (lists.length === expectedLists.length) await watcher.stop();
      }
      assert.deepEqual(lists, expectedLists);
      assert.deepEqual(heard, expectedLists);
      assert.deepEqual(watcher.current, expectedLists[2]);
      assert.equal(probeErrors.length, 1);
      assert.equal(probeErrors[0]?.code, 'audio_process_probe_failed');
      assert.match(probeErrors[0]?.message ?? '', /process object list\) failed with OSStatus -50/);
    });
  }

  it('fails the iterator when the helper ends without stop()', async () => {
    const watcher = await watchInputProcesses({
      helperPath: fakeHelperPath,
      env: fakeEnv({ FAKE_SCENARIO: 'watch', FAKE_THEN: 'exit' }),
    });
    const lists: InputProcess[][] = [];
    await assert.rejects(
      (async () => {
        for await (const list of watcher.changes()) lists.push(list);
      })(),
      (error: unknown) => error instanceof HelperExitError && error.exit.code === 0,
    );
    assert.deepEqual(lists, expectedLists);
  });

  it('rejects when the binary cannot be spawned', async () => {
    await assert.rejects(
      watchInputProcesses({ helperPath: join(tmpdir(), 'no-such-helper-here'), env: fakeEnv({}) }),
      (error: unknown) => error instanceof HelperStartError && /could not start .*ENOENT/.test(error.message),
    );
  });
});
