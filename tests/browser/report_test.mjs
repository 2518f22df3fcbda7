// Opens likeness-check's HTML report from disk in Debian's headless Chromium, as a reviewer opens
// a CI artifact: the worst failure comes first, every picture shows, the switch changes the view
// by mouse and keyboard, a file name cannot inject markup, and no request leaves the folder.
//
// node report_test.mjs CHECK DATA
import assert from "node:assert/strict";
import { spawnSync } from "node:child_process";
import { copyFileSync, mkdtempSync, readdirSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import path from "node:path";
import { pathToFileURL } from "node:url";
import { chromium } from "playwright-core";

const [check, data] = process.argv.slice(2);
const folder = mkdtempSync(path.join(tmpdir(), "likeness-report-"));

// Four pairs in this order: one that passes, one a little short, one that cannot be compared,
// one far short whose second file's name holds markup.
function makeReport() {
  const crafted = (name) => path.join(data, "crafted", name);
  const written = (name) => path.join(data, "written", name);
  const injected = path.join(folder, 'worse <b id="injected">&amp;.bmp');
  copyFileSync(crafted("blocks-second.bmp"), injected);
  const pairs = [
    [crafted("blocks-first.bmp"), crafted("blocks-first.bmp")],
    [written("pil-grey16x16.png"), written("pil-grey16x16.jpg")],
    [crafted("blocks-first.bmp"), path.join(folder, "missing <i>.bmp")],
    [crafted("blocks-first.bmp"), injected],
  ];
  const list = path.join(folder, "pairs.tsv");
  writeFileSync(list, pairs.map((pair) => pair.join("\t") + "\n").join(""));
  const report = path.join(folder, "report");
  const run = spawnSync(check, ["--min-block", "0.9995", "--html", report, "--pairs", list]);
  assert.equal(run.status, 2, String(run.stderr));
  return report;
}

async function checkPage(page, report) {
  const rows = await page.$$eval("#pairs tbody tr", (trs) =>
    trs.map((tr) => [tr.className, tr.cells[2].textContent]));
  assert.deepEqual(rows.map(([kind]) => kind), ["failed", "failed", "incomparable", "passed"]);
  assert.match(rows[0][1], /worse <b id="injected">&amp;\.bmp$/);
  assert.match(rows[1][1], /pil-grey16x16\.jpg$/);
  assert.equal(await page.$("#injected"), null);
  assert.match(await page.textContent("#summary"), /^4 pairs: 1 passed, 2 failed, 1 not compared/);
  // Every picture came from the folder and decoded; the folder holds the failures' alone.
  assert.equal(readdirSync(report).length, 1 + 2 * 3);
  const sizes = await page.$$eval("img", (images) => images.map((i) => i.naturalWidth));
  assert.equal(sizes.length, 8);
  assert.ok(sizes.every((width) => width > 0), String(sizes));
}

// The first failed pair's switched view: mouse, then Space and Enter on the focused button.
async function checkSwitch(page) {
  const figure = page.locator("figure.switched").first();
  const view = figure.locator("img.view");
  const button = figure.locator("button.switch");
  assert.match(await view.getAttribute("src"), /^000004-.*-first\.png$/);
  await button.click();
  assert.match(await view.getAttribute("src"), /-second\.png$/);
  assert.equal(await button.getAttribute("aria-pressed"), "true");
  assert.equal(await figure.locator(".shown").textContent(), "second");
  await button.focus();
  await page.keyboard.press("Space");
  assert.match(await view.getAttribute("src"), /-first\.png$/);
  await page.keyboard.press("Enter");
  assert.match(await view.getAttribute("src"), /-second\.png$/);
  assert.ok(await view.evaluate((image) => image.complete && image.naturalWidth === 24));
  // The worst block, third of the top row of 3 x 2, marked over it at the picture's scale.
  const picture = await view.boundingBox();
  const marked = await figure.locator(".worst").boundingBox();
  assert.ok(Math.abs(marked.x - picture.x - (picture.width * 16) / 24) < 2, JSON.stringify(marked));
  assert.ok(Math.abs(marked.width - picture.width / 3) < 2, JSON.stringify(marked));
  assert.ok(Math.abs(marked.y - picture.y) < 2, JSON.stringify(marked));
}

const browser = await chromium.launch({ executablePath: "/usr/bin/chromium", headless: true });
try {
  const report = makeReport();
  const context = await browser.newContext({ offline: true });
  const page = await context.newPage();
  const requests = [];
  const problems = [];
  page.on("request", (request) => requests.push(request.url()));
  page.on("pageerror", (error) => problems.push(String(error)));
  page.on("console", (message) => message.type() === "error" && problems.push(message.text()));
  const base = pathToFileURL(report).href + "/";
  await page.goto(base + "index.html");
  await checkPage(page, report);
  await checkSwitch(page);
  assert.deepEqual(problems, []);
  assert.ok(requests.length >= 7);
  assert.deepEqual(requests.filter((url) => !url.startsWith(base)), []);
  console.log(`report_test: passed, ${requests.length} requests, all inside the report's folder`);
} finally {
  await browser.close();
  rmSync(folder, { recursive: true, force: true });
}
