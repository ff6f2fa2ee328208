// Checks CI workflow files with the workflow service's own parser, as its
// schema and its conversion into jobs read them: the keys and their values,
// the expressions, the jobs' needs. Prints each error as FILE:LINE:COLUMN
// and exits 1 on any.
//   node check.mjs WORKFLOW.yml...
import { readFileSync } from "node:fs";
import { register } from "node:module";

// The parser imports its JSON schema the way bundlers take it, without the
// import attribute node wants for JSON: a load hook adds it.
register("data:text/javascript," + encodeURIComponent(`
export async function load(url, context, next) {
  if (url.endsWith(".json")) {
    // importAttributes from node 20.10 on, importAssertions before.
    const key = "importAttributes" in context ? "importAttributes" : "importAssertions";
    return next(url, { ...context, [key]: { type: "json" } });
  }
  return next(url, context);
}`));
const { convertWorkflowTemplate, NoOperationTraceWriter, parseWorkflow } = await import(
  "@actions/workflow-parser"
);

let failed = 0;
for (const name of process.argv.slice(2)) {
  const parsed = parseWorkflow({ name, content: readFileSync(name, "utf8") }, new NoOperationTraceWriter());
  const errors = parsed.context.errors.getErrors().map((error) => {
    const at = error.range ? `:${error.range.start.line}:${error.range.start.column}` : "";
    return `${name}${at}: ${error.rawMessage}`;
  });
  if (errors.length === 0 && parsed.value !== undefined) {
    const template = await convertWorkflowTemplate(parsed.context, parsed.value);
    for (const error of template.errors ?? []) errors.push(`${name}: ${error.Message}`);
  } else if (errors.length === 0) {
    errors.push(`${name}: not a workflow`);
  }
  for (const line of errors) console.error(line);
  failed += errors.length;
}
process.exit(failed === 0 ? 0 : 1);
