client component
