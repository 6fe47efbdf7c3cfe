// The page qelda.html in headless Chromium (the system's, driven by
// Playwright): opened from a file: URL, three scans of different formats and
// one file that is no scan dropped on it, a question answered (the
// wavelengths), every output downloaded and compared byte for byte with the
// native converter's, the failure shown, all outputs as one zip, and not one
// request leaving the page.
// Usage: node tests/web/page_test.mjs PAGE_HTML NATIVE_CONVERTER [SCREENSHOT_PNG]
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, writeFileSync, existsSync, readdirSync } from "node:fs";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath, pathToFileURL } from "node:url";

const root = resolve(dirname(fileURLToPath(import.meta.url)), "../..");
const require = createRequire(join(root, "web/package.json"));
const { chromium } = require("playwright-core");
const { unzipSync } = require("fflate");

const [pageHtml, nativeGiven, screenshot] = process.argv.slice(2);
const native = resolve(nativeGiven);
const work = mkdtempSync(join(tmpdir(), "qelda-page-"));
let passed = 0;
let failed = 0;
const check = (what, ok, detail = "") => {
  if (ok) passed++;
  else {
    failed++;
    console.error(`FAIL: ${what}${detail ? ": " + detail : ""}`);
  }
};

// Three scans of different formats: real samples when there are, else files
// the native converter writes from a small x-y scan.
const samples = resolve(root, "../shared/samples");
let inputs; // [{dir, name}]
const wanted = ["uxd/BT86_.UXD", "xrdml/", "xy/"];
if (existsSync(join(samples, "MANIFEST.tsv"))) {
  const rows = readFileSync(join(samples, "MANIFEST.tsv"), "utf8").split("\n").slice(1).map((l) => l.split("\t")[0]);
  inputs = wanted
    .map((w) => rows.find((r) => r && r.startsWith(w) && existsSync(join(samples, r)) && !/\.(tsv|csv)$/.test(r)))
    .filter(Boolean)
    .map((r) => ({ dir: join(samples, dirname(r)), name: r.split("/").pop() }));
}
if (!inputs || inputs.length < 3) {
  const lines = Array.from({ length: 40 }, (_, i) => `${(10 + i * 0.02).toFixed(2)} ${100 + ((i * 37) % 50)}`);
  writeFileSync(join(work, "scan.xy"), lines.join("\n") + "\n");
  execFileSync(native, ["-q", "-t", "uxd", join(work, "scan.xy"), join(work, "made.uxd")], { stdio: "ignore" });
  execFileSync(native, ["-q", "-t", "stoe-raw", join(work, "scan.xy"), join(work, "made.raw")], { stdio: "ignore" });
  inputs = ["scan.xy", "made.uxd", "made.raw"].map((name) => ({ dir: work, name }));
}
const bad = { name: "notes.txt", bytes: Buffer.from("shopping list: flour, eggs\n") };
const wavelengths = ["1.5406", "1.5443", "0.5"];
const format = "gsas";

// The native converter's output for one input, run in the input's folder on
// its bare name, as the page names it.
function nativeOutput(input) {
  const out = mkdtempSync(join(work, "native-"));
  try {
    execFileSync(native, ["-q", "--wavelengths", wavelengths.join(","), "-t", format, "-o", out, input.name], {
      cwd: input.dir,
      stdio: "ignore",
    });
  } catch (e) {
    return null;
  }
  const made = readdirSync(out);
  return made.length === 1 ? { name: made[0], bytes: readFileSync(join(out, made[0])) } : null;
}

const browser = await chromium.launch({
  executablePath: process.env.CHROMIUM || "/usr/bin/chromium",
  args: ["--no-sandbox", "--allow-file-access-from-files"],
});
try {
  const context = await browser.newContext({ acceptDownloads: true, viewport: { width: 1200, height: 1000 } });
  const page = await context.newPage();
  const url = pathToFileURL(resolve(pageHtml)).href;
  const requests = [];
  page.on("request", (r) => requests.push(r.url()));
  const errors = [];
  page.on("pageerror", (e) => errors.push(String(e)));
  await page.goto(url);
  await page.waitForSelector("body[data-ready='1']", { timeout: 60000 });

  // The answer to a question: other wavelengths than the defaults.
  await page.fill("input[name=l1]", wavelengths[0]);
  await page.selectOption("#format", format);

  // Dropped, as a person drops files from a folder.
  const files = [...inputs.map((i) => ({ name: i.name, bytes: readFileSync(join(i.dir, i.name)) })), bad];
  await page.evaluate((list) => {
    const dt = new DataTransfer();
    for (const f of list) dt.items.add(new File([Uint8Array.from(atob(f.b64), (c) => c.charCodeAt(0))], f.name));
    document.getElementById("drop").dispatchEvent(new DragEvent("drop", { dataTransfer: dt, bubbles: true, cancelable: true }));
  }, files.map((f) => ({ name: f.name, b64: f.bytes.toString("base64") })));
  await page.waitForFunction((n) => document.querySelectorAll("article.file").length === n, files.length);
  await page.waitForFunction(() => [...document.querySelectorAll("article.file")].every((a) => a.children.length > 1));
  check("a plot for each scan", (await page.locator("article.file .uplot").count()) === inputs.length);
  const badCard = page.locator("article.file", { hasText: bad.name });
  const badText = await badCard.innerText();
  check("the bad file's failure", /cannot tell its format/.test(badText), badText.slice(0, 200));

  await page.click("#convert");
  for (const input of inputs) {
    const card = page.locator("article.file", { has: page.locator("h3", { hasText: input.name }) });
    const link = card.locator("a.download");
    const expected = nativeOutput(input);
    if (!expected) {
      check(`${input.name}: the native converter converts it`, false);
      continue;
    }
    if ((await link.count()) !== 1) {
      check(`${input.name}: a download`, false, (await card.innerText()).slice(0, 300));
      continue;
    }
    const [download] = await Promise.all([page.waitForEvent("download"), link.click()]);
    const saved = join(work, "page-" + download.suggestedFilename());
    await download.saveAs(saved);
    check(`${input.name}: the name ${expected.name}`, download.suggestedFilename() === expected.name, download.suggestedFilename());
    check(`${input.name}: the same bytes as the native converter`, Buffer.compare(readFileSync(saved), expected.bytes) === 0);
  }
  const [zip] = await Promise.all([page.waitForEvent("download"), page.click("#zip")]);
  const zipPath = join(work, "all.zip");
  await zip.saveAs(zipPath);
  const entries = unzipSync(readFileSync(zipPath));
  check("the zip holds every output", Object.keys(entries).length === inputs.length, Object.keys(entries).join(" "));

  if (screenshot) await page.screenshot({ path: screenshot });
  const outside = requests.filter((r) => r !== url && !r.startsWith("data:") && !r.startsWith("blob:"));
  check("no request leaves the page", outside.length === 0, outside.join(" "));
  check("no script error", errors.length === 0, errors.join(" | "));
} finally {
  await browser.close();
}
console.log(`qelda.html in Chromium: ${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
