// Where the compiled fake helper is, made executable so that it can stand in for the binary.

import { chmodSync } from 'node:fs';
import { fileURLToPath } from 'node:url';

export const fakeHelperPath = fileURLToPath(new URL('./fake_helper.js', import.meta.url));
chmodSync(fakeHelperPath, 0o755);

/** The environment for one run of the fake helper. */
export function fakeEnv(settings: Record<string, string>): NodeJS.ProcessEnv {
  const env: NodeJS.ProcessEnv = { ...process.env };
  delete env['TALVORIN_AUDIO_INCLUDE_PID'];
  delete env['TALVORIN_HELPER_PATH'];
  return { ...env, ...settings };
}
