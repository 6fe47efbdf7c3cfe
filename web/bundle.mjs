// Puts the page together: web/page.html with its style, its script, the chart
// library, the zip writer and the converter module (WebAssembly embedded)
// written into it, so that qelda.html is one file that needs no server.
// Usage: node web/bundle.mjs MODULE_JS OUT_HTML
import { readFileSync, writeFileSync } from "node:fs";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
const [moduleJs, outHtml] = process.argv.slice(2);
if (!moduleJs || !outHtml) {
  console.error("usage: node web/bundle.mjs MODULE_JS OUT_HTML");
  process.exit(2);
}
const read = (p) => readFileSync(p, "utf8");
// A script's text may not close its own element.
const inline = (js) => js.replace(/<\/script/gi, "<\\/script");
const scripts = [
  read(join(here, "node_modules/uplot/dist/uPlot.iife.min.js")),
  read(join(here, "node_modules/fflate/umd/index.js")),
  read(moduleJs),
  read(join(here, "app.js")),
].map((js) => `<script>\n${inline(js)}\n</script>`);
let page = read(join(here, "page.html"));
const style = `<style>\n${read(join(here, "node_modules/uplot/dist/uPlot.min.css"))}\n${read(join(here, "page.css"))}\n</style>`;
page = page.replace("<!-- STYLE -->", () => style).replace("<!-- SCRIPTS -->", () => scripts.join("\n"));
writeFileSync(outHtml, page);
