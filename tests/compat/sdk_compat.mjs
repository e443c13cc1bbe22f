// Drives qelkit-mcp through the official MCP TypeScript SDK client, against
// a small HTTPS stand-in for the platform, to show that a stock client can
// connect, list the tools and call one. Run through run.sh, which prepares
// the certificate and the environment:
//   QELKIT_MCP_BINARY  server binary
//   COMPAT_CERT, COMPAT_KEY, COMPAT_CA  PEM files for the stand-in (CA: what the server trusts)
//   COMPAT_HOME  empty directory used as the server's HOME
// Exits 0 when every check passes, 1 otherwise.

import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import https from 'node:https';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';

const TIME_LIMIT_MS = 60_000;
const REPOSITORY_ANSWER = '{"path":"g/r","name":"r","id":"1"}';
// The server writes records back in its own field order, compactly.
const REPOSITORY_TEXT = '{"id":"1","name":"r","path":"g/r"}';

function requireEnv(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set`);
  return value;
}

// The platform stand-in: answers GET /g/r and 404 to anything else, and
// keeps what it was asked.
async function startPlatform(cert, key) {
  const seen = [];
  const server = https.createServer({ cert, key }, (req, res) => {
    const chunks = [];
    req.on('data', (chunk) => chunks.push(chunk));
    req.on('end', () => {
      seen.push({ method: req.method, url: req.url, headers: req.headers,
                  body: Buffer.concat(chunks).toString('utf8') });
      const found = req.method === 'GET' && req.url === '/g/r';
      const body = found ? REPOSITORY_ANSWER : 'mock: no route';
      res.writeHead(found ? 200 : 404, {
        'content-type': found ? 'application/json' : 'text/plain',
        'content-length': Buffer.byteLength(body),
      });
      res.end(body);
    });
  });
  await new Promise((resolve, reject) => {
    server.once('error', reject);
    server.listen(0, '127.0.0.1', resolve);
  });
  return { server, seen, port: server.address().port };
}

async function run(platform, serverStderr) {
  const transport = new StdioClientTransport({
    command: requireEnv('QELKIT_MCP_BINARY'),
    args: ['--domain', `localhost:${platform.port}`],
    env: {
      PATH: process.env.PATH ?? '/usr/bin:/bin',
      HOME: requireEnv('COMPAT_HOME'),
      SSL_CERT_FILE: requireEnv('COMPAT_CA'),
      QEL_TOKEN: 't',
    },
    stderr: 'pipe',
  });
  transport.stderr?.on('data', (chunk) => serverStderr.push(chunk.toString('utf8')));

  const client = new Client({ name: 'qelkit-compat', version: '0' });
  await client.connect(transport);
  try {
    assert.deepEqual(client.getServerVersion(), { name: 'qelkit-mcp', version: '1.0.0' });
    assert.ok(client.getServerCapabilities()?.tools, 'server announces the tools capability');

    const { tools } = await client.listTools();
    assert.ok(tools.length > 0, 'tools/list is empty');
    const names = tools.map((tool) => tool.name);
    const sorted = [...names].sort((a, b) => (a < b ? -1 : a > b ? 1 : 0));
    assert.deepEqual(names, sorted, 'tools/list is sorted by name');
    for (const tool of tools) {
      assert.equal(typeof tool.inputSchema, 'object', `${tool.name}: inputSchema`);
      assert.notEqual(tool.inputSchema, null, `${tool.name}: inputSchema`);
      assert.equal(tool.inputSchema.type, 'object', `${tool.name}: inputSchema.type`);
    }
    assert.ok(names.includes('qel_get_repository'));

    const result = await client.callTool({ name: 'qel_get_repository', arguments: { repo: 'g/r' } });
    assert.deepEqual(result, { content: [{ type: 'text', text: REPOSITORY_TEXT }], isError: false });

    assert.equal(platform.seen.length, 1, 'one request reached the platform');
    const [request] = platform.seen;
    assert.equal(request.method, 'GET');
    assert.equal(request.url, '/g/r');
    assert.equal(request.headers.authorization, 'Bearer t');
    assert.equal(request.headers.accept, 'application/vnd.qel.api+json');

    // A protocol-level failure reaches the SDK as an MCP error, not a result.
    await assert.rejects(
      client.callTool({ name: 'qel_no_such_tool', arguments: {} }),
      (error) => error.code === -32602,
    );
    await client.ping();
  } finally {
    await client.close();
  }
}

async function main() {
  const cert = readFileSync(requireEnv('COMPAT_CERT'));
  const key = readFileSync(requireEnv('COMPAT_KEY'));
  const platform = await startPlatform(cert, key);
  const serverStderr = [];
  const watchdog = setTimeout(() => {
    console.error(`sdk compat: no result within ${TIME_LIMIT_MS} ms`);
    console.error(serverStderr.join(''));
    process.exit(1);
  }, TIME_LIMIT_MS);
  let status = 0;
  try {
    await run(platform, serverStderr);
    console.log('sdk compat: all checks passed');
  } catch (error) {
    status = 1;
    console.error('sdk compat: FAILED');
    console.error(error);
    console.error('--- platform requests ---');
    console.error(JSON.stringify(platform.seen, null, 2));
    console.error('--- server stderr ---');
    console.error(serverStderr.join(''));
  } finally {
    clearTimeout(watchdog);
    platform.server.closeAllConnections?.();
    platform.server.close();
  }
  process.exit(status);
}

main();
